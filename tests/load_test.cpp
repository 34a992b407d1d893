// Many launches in a row and at once: every status comes back exact, and no launch leaves a
// process behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "kivo_run.h"

// Statuses a launcher could get wrong: each of the 32 bits, with and without its
// neighbours (a status cut to 8 or 16 bits, or widened with its sign, differs from the
// real one), STILL_ACTIVE (259), which a careless launcher reads as "still running", and
// the values around the sign bit.
static std::vector<DWORD> StatusesToCheck()
{
    std::vector<DWORD> statuses = {0, 1, 255, 256, 259, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xC0000005, 0xFFFFFFFE,
                                   0xFFFFFFFF};
    for (DWORD bit = 0; bit < 32; bit += 3) {
        statuses.push_back(static_cast<DWORD>(1) << bit);
        statuses.push_back(~(static_cast<DWORD>(1) << bit));
    }
    return statuses;
}

static std::string ProbeEndingWith(DWORD status, const std::string& before = "")
{
    return Quoted(ProbePath()) + " \"" + before + "/exit:" + std::to_string(status) + "\"";
}

TEST(Load, LaunchesInARowEachEndWithTheirChildsExactStatus)
{
    SetEnvironmentVariableA("KIVO_PROBE_OUT", nullptr);
    const std::vector<DWORD> statuses = StatusesToCheck();
    for (const DWORD status : statuses) {
        const KivoRun run = RunKivo({.Operands = ProbeEndingWith(status)});
        EXPECT_EQ(run.Status, status) << run.Stderr;
        EXPECT_EQ(run.Processes, 2u) << "status " << status;
        EXPECT_EQ(run.LeftBehind, 0u) << "status " << status;
    }
    std::printf("checked %zu launches in a row\n", statuses.size());
}

// Launchers whose children all run at the same time share nothing: each gets its own
// child's status.
TEST(Load, LaunchesAtOnceEachEndWithTheirOwnChildsStatus)
{
    SetEnvironmentVariableA("KIVO_PROBE_OUT", nullptr);
    const std::vector<DWORD> statuses = StatusesToCheck();
    const size_t count = 12;
    std::vector<KivoRun> runs(count);
    std::vector<std::thread> launchers;
    for (size_t index = 0; index < count; ++index) {
        launchers.emplace_back([index, &runs, &statuses] {
            // A short sleep keeps all the children alive at the same time.
            runs[index] = RunKivo({.Operands = ProbeEndingWith(statuses[index], "/sleep:500 ")});
        });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    for (size_t index = 0; index < count; ++index) {
        EXPECT_EQ(runs[index].Status, statuses[index]) << "launcher " << index;
        EXPECT_EQ(runs[index].LeftBehind, 0u) << "launcher " << index;
    }
    std::printf("checked %zu launchers at once\n", count);
}
