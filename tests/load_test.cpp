// Many launches in a row and at once: every status must come back exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "kivo_run.h"

// Distinct for every index below 2^32: the factor is odd.
static DWORD StatusFor(DWORD index) { return index * 2654435761u; }

static std::string ProbeEndingWith(DWORD status, const std::string& before = "")
{
    return Quoted(ProbePath()) + " \"" + before + "/exit:" + std::to_string(status) + "\"";
}

TEST(Load, FiveHundredLaunchesInARowEachWithItsOwnStatus)
{
    SetEnvironmentVariableA("KIVO_PROBE_OUT", nullptr);
    int checked = 0;
    for (DWORD index = 0; index < 500; ++index) {
        const DWORD status = StatusFor(index);
        const KivoRun run = RunKivo({ProbeEndingWith(status), "", ""});
        EXPECT_EQ(run.Status, status) << "launch " << index << ": " << run.Stderr;
        EXPECT_EQ(run.Processes, 2u) << "launch " << index;
        ++checked;
    }
    std::printf("checked %d launches in a row\n", checked);
}

TEST(Load, SixteenLaunchersAtOnce)
{
    SetEnvironmentVariableA("KIVO_PROBE_OUT", nullptr);
    const DWORD count = 16;
    std::vector<DWORD> statuses(count);
    std::vector<std::thread> launchers;
    for (DWORD index = 0; index < count; ++index) {
        launchers.emplace_back([index, &statuses] {
            // A short sleep keeps all sixteen children alive at the same time.
            statuses[index] = RunKivo({ProbeEndingWith(StatusFor(1000 + index), "/sleep:300 "), "", ""}).Status;
        });
    }
    for (std::thread& launcher : launchers) {
        launcher.join();
    }
    for (DWORD index = 0; index < count; ++index) {
        EXPECT_EQ(statuses[index], StatusFor(1000 + index)) << "launcher " << index;
    }
    std::printf("checked %lu launchers at once\n", static_cast<unsigned long>(count));
}
