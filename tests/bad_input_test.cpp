// Whatever its caller passes or leaves out, the launcher neither crashes nor hangs, writes
// nothing beyond the usage line, and ends with the status it promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "kivo_run.h"

TEST(BadInput, OperandTextsReachTheChildAsTheRuntimeDeliveredThem)
{
    const std::string probe = Quoted(ProbePath());
    // The launcher's command line at its longest: 32767 characters with the terminator.
    const size_t longestCommandLine = 32766;
    const size_t prefix = Quoted(KivoPath()).size() + 1 + probe.size() + 2; // ...probe "
    std::string longText;
    while (longText.size() < longestCommandLine - prefix - 1) {
        longText += "word" + std::to_string(longText.size()) + ' ';
    }
    longText.resize(longestCommandLine - prefix - 1);
    longText.back() = 'z';

    struct Row {
        const char* what;
        std::string operand; // the second operand, as written on the launcher's command line
        std::string received; // the child's whole command line
    };
    const Row rows[] = {
        {"escaped quotes", "\"a \\\"quoted\\\" word\"", "a \"quoted\" word"},
        {"an unbalanced quote", "\"unbalanced text", "unbalanced text"},
        {"only spaces and tabs", "\" \t  \t\"", " \t  \t"},
        {"backslashes before quotes", "\"a\\\\\\\"b c\\\\\\\\\"", "a\\\"b c\\\\"},
        {"bytes above 0x7F", "\"caf\xE9 na\xEFve \xA7\"", "caf\xE9 na\xEFve \xA7"},
        {"the longest command line", Quoted(longText), longText},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string report = FreshReport();
        const KivoRun run = RunKivo({.Operands = probe + " " + row.operand});
        EXPECT_EQ(ReportValue(ReadFileText(report), "cmdline"), row.received);
        EXPECT_EQ(run.Status, 0u);
        EXPECT_EQ(run.Stdout + run.Stderr, "");
    }

    // Random texts, as the runtime splits them. The probe, started directly with the
    // launcher's own command line but for the program's path, reports the runtime's
    // split of it; the launcher must hand its child exactly the operand that this split
    // gives for the form it selects. Wherever the code page holds the text, the wide
    // split gives what the narrow one gives.
    const std::wstring pieces[] = {L"a", L"b", L" ", L"\t", L"\"", L"\\", L"\u00E9", L"\u6587", L"\U0001F600"};
    std::mt19937 random(GetCurrentProcessId());
    for (int round = 0; round < 40; ++round) {
        std::wstring text;
        for (size_t length = random() % 24; length > 0; --length) {
            text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        }
        SCOPED_TRACE(Utf16Hex(text));
        KivoStart start = {.WideOperands = Widen(probe) + L" " + text, .Program = ProbePath()};
        std::string report = FreshReport();
        RunKivo(start);
        const std::string split = ReadFileText(report);
        const unsigned long count = ReportNumber(split, "wargc");
        ASSERT_GE(count, 2u) << split;
        const std::string operand = ReportValue(split, count == 3 ? "wargv2_utf16" : "wargv1_utf16");

        start.Program.clear();
        report = FreshReport();
        const KivoRun run = RunKivo(start);
        // An empty command line (a lone quote splits into one) is the platform's to fill
        // in: Wine puts the module's path there, as for no command line at all.
        if (!operand.empty()) {
            EXPECT_EQ(ReportValue(ReadFileText(report), "cmdline_utf16"), operand);
        }
        EXPECT_EQ(run.Status, 0u);

        BOOL lost = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lost);
        if (!lost) {
            EXPECT_EQ(ReportNumber(split, "argc"), count);
            for (unsigned long index = 1; index < count; ++index) {
                const std::string wide = ReportValue(split, "wargv" + std::to_string(index) + "_utf16");
                EXPECT_EQ(Utf16Hex(Widen(ReportValue(split, "argv" + std::to_string(index)))), wide) << index;
            }
        }
    }
}

TEST(BadInput, ALauncherInOddSurroundingsStillWorks)
{
    struct Row {
        const char* what;
        KivoStart start;
    };
    const Row rows[] = {
        {"standard handles closed", {.StdHandles = Handles::Closed}},
        {"standard handles invalid", {.StdHandles = Handles::Invalid}},
        {"standard handles of no object", {.StdHandles = Handles::NoObject}},
        {"no console", {.CreationFlags = DETACHED_PROCESS}},
        // Windows then gives the launcher no job for its child, as Windows 7 gives none
        // inside any job. Wine nests the job all the same.
        {"inside a job that nests no other", {.UiLimitedJob = true}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        KivoStart start = row.start;
        const KivoRun usage = RunKivo(start);
        EXPECT_EQ(usage.Status, 0xFFFFFFFFu);

        // Started directly, the probe shows what the child must get: odd standard handles
        // neither fail the start nor gain the child a record of Kivo's making.
        KivoStart direct = row.start;
        direct.Program = ProbePath();
        direct.Operands = "/exit:77";
        const std::string directReport = FreshReport();
        RunKivo(direct);
        const std::string expected = ReadFileText(directReport);

        start.Operands = Quoted(ProbePath()) + " \"/exit:77 detached\"";
        const std::string report = FreshReport();
        const KivoRun launch = RunKivo(start);
        EXPECT_EQ(launch.Status, 77u);
        const std::string text = ReadFileText(report);
        EXPECT_EQ(ReportValue(text, "cmdline"), "/exit:77 detached");
        EXPECT_EQ(ReportValue(text, "startflags"), ReportValue(expected, "startflags"));
        // A value that names no object names none in the child either way: Wine 10 drops it
        // where the start inherits nothing, as Kivo's does, where Wine 8 hands it on.
        if (row.start.StdHandles != Handles::NoObject) {
            for (const char* key : {"stdin", "stdout", "stderr"}) {
                EXPECT_EQ(ReportValue(text, key), ReportValue(expected, key)) << key;
            }
        }
    }
}

TEST(BadInput, AChildThatCrashesEndsTheLauncherWithItsStatus)
{
    const KivoRun crashed = RunKivo({.Operands = Quoted(ProbePath()) + " /crash"});
    EXPECT_EQ(crashed.Status, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(crashed.Stdout + crashed.Stderr, "");
}

// Ending the launcher by force, as a time-out or Task Manager does, ends its child, and
// only its child; ending the child ends the launcher with the child's status.
TEST(BadInput, WhicheverIsEndedByForceTheLauncherAndItsChildEndTogether)
{
    const std::string probe = ProbePath();
    const std::string directives = "/ready /spawn:60000 /sleep:30000";
    const std::string probeDirectly = Quoted(probe) + " " + Quoted(directives);
    struct Row {
        const char* ended;
        std::string operands;
        int generations; // how far up from the probe the process that the test ends is
        DWORD processes; // ever in the test's job: launchers, probe and grandchild
    };
    const Row rows[] = {
        {"the child", probeDirectly, 0, 3},
        {"the launcher", probeDirectly, 1, 3},
        {"the outer of two launchers, one starting the other",
         Quoted(KivoPath()) + " " + Quoted("kivo \\\"" + probe + "\\\" \\\"" + directives + "\\\""), 2, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ended);
        const std::string report = FreshReport();
        HANDLE grandchild = nullptr;
        bool probeEnded = false;
        std::thread ender = OnProbeReady([&] {
            const std::string text = ReadFileText(report);
            const DWORD probeId = ReportNumber(text, "pid");
            DWORD target = probeId;
            for (int generation = 0; generation < row.generations; ++generation) {
                target = ParentOf(target);
            }
            const HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, probeId);
            grandchild = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, ReportNumber(text, "grandchild"));
            const HANDLE ended = OpenProcess(PROCESS_TERMINATE, FALSE, target);
            TerminateProcess(ended, KilledStatus);
            CloseHandle(ended);
            // Only a few seconds, whoever was ended: the probe would sleep for 30.
            probeEnded = WaitForSingleObject(child, 10000) == WAIT_OBJECT_0;
            TerminateProcess(child, 0);
            CloseHandle(child);
        });
        const KivoRun run = RunKivo({.Operands = row.operands});
        ender.join();
        EXPECT_EQ(run.Status, KilledStatus);
        EXPECT_LT(run.Seconds, 20.0) << "the launcher must end when its child is ended";
        EXPECT_TRUE(probeEnded) << "the child ran on after its launcher had ended";
        EXPECT_EQ(WaitForSingleObject(grandchild, 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the child's own child must run on";
        EXPECT_EQ(run.Processes, row.processes);
        EXPECT_EQ(run.Stdout + run.Stderr, "");
        TerminateProcess(grandchild, 0);
        CloseHandle(grandchild);
    }
}

// A build tool's time-out may end the launcher at any moment, also while it starts its
// child: whenever it comes, no child may be left behind, running or not.
TEST(BadInput, EndedByForceAtAnyMomentOfItsStartTheLauncherLeavesNoChild)
{
    // The launcher's own start-up, as the time it takes to show its usage line.
    std::vector<double> startups;
    for (int run = 0; run < 9; ++run) {
        startups.push_back(RunKivo({}).Seconds);
    }
    std::sort(startups.begin(), startups.end());
    const double startup = startups[startups.size() / 2];

    SetEnvironmentVariableA("KIVO_PROBE_OUT", nullptr);
    std::mt19937 random(GetCurrentProcessId());
    std::uniform_real_distribution<double> moment(0.0, 2 * startup);
    const int kills = 150;
    int childStarted = 0, killed = 0;
    DWORD leftBehind = 0, neverStarted = 0;
    // Each child left behind costs its launch a 5 s wait: the first one ends the storm.
    while (killed < kills && leftBehind == 0) {
        ++killed;
        // The tag names the children that Wine may abandon, for tests/run_in_console.sh to reap.
        // No standard handles: under Wine, a kill inside its process creation can leave a
        // process that never starts, yet holds what it was to inherit.
        const KivoRun run = RunKivo({.Operands = Quoted(ProbePath()) + " \"/sleep:30000 /kivo-kill-storm\"",
                                     .StdHandles = Handles::Closed,
                                     .KillAfter = moment(random)});
        EXPECT_EQ(run.Status, KilledStatus);
        leftBehind += run.LeftBehind;
        neverStarted += run.NeverStarted;
        childStarted += run.Processes > 1 ? 1 : 0;
    }
    std::printf("%d kills within %.1f ms of the launcher's start, %d of them after it had started its child: "
                "%lu processes left behind",
                killed, 2000 * startup, childStarted, static_cast<unsigned long>(leftBehind));
    if (UnderWine()) {
        std::printf(", and %lu that Wine abandoned inside its own process creation", static_cast<unsigned long>(neverStarted));
    }
    std::printf("\n");
    ASSERT_EQ(leftBehind, 0u) << "ended by force, the launcher left its child running";
    // Some on either side of the child's start, or the kills missed the moments at stake.
    EXPECT_GE(childStarted, 3);
    EXPECT_LE(childStarted, kills - 3);
}
