// Whatever its caller passes or leaves out, the launcher neither crashes nor hangs, writes
// nothing beyond the usage line, and ends with the status it promises.
#include <gtest/gtest.h>

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
        const KivoRun run = RunKivo({probe + " " + row.operand, "", ""});
        EXPECT_EQ(ReportValue(ReadFileText(report), "cmdline"), row.received);
        EXPECT_EQ(run.Status, 0u);
        EXPECT_EQ(run.Stdout + run.Stderr, "");
    }
}

TEST(BadInput, ALauncherWithoutStandardHandlesOrConsoleStillWorks)
{
    struct Row {
        const char* what;
        bool oddHandles;
        HANDLE handles;
        DWORD flags;
    };
    const Row rows[] = {
        {"standard handles closed", true, nullptr, 0},
        {"standard handles invalid", true, INVALID_HANDLE_VALUE, 0},
        {"standard handles of no object", true, reinterpret_cast<HANDLE>(0x7FF0), 0},
        {"no console", false, nullptr, DETACHED_PROCESS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        KivoStart start;
        start.OddStdHandles = row.oddHandles;
        start.StdHandles = row.handles;
        start.CreationFlags = row.flags;
        const KivoRun usage = RunKivo(start);
        EXPECT_EQ(usage.Status, 0xFFFFFFFFu);

        start.Operands = Quoted(ProbePath()) + " \"/exit:77 detached\"";
        const std::string report = FreshReport();
        const KivoRun launch = RunKivo(start);
        EXPECT_EQ(launch.Status, 77u);
        EXPECT_EQ(ReportValue(ReadFileText(report), "cmdline"), "/exit:77 detached");
    }
}

TEST(BadInput, AChildThatCrashesOrIsKilledEndsTheLauncherWithItsStatus)
{
    const std::string probe = Quoted(ProbePath());

    const KivoRun crashed = RunKivo({probe + " /crash", "", ""});
    EXPECT_EQ(crashed.Status, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(crashed.Stdout + crashed.Stderr, "");

    const DWORD chosen = 0x0BADF00D;
    const std::string report = FreshReport();
    std::thread killer = OnProbeReady([&report, chosen] {
        const DWORD id = ReportNumber(ReadFileText(report), "pid");
        const HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, id);
        TerminateProcess(child, chosen);
        CloseHandle(child);
    });
    const KivoRun killed = RunKivo({probe + " \"/ready /sleep:30000\"", "", ""});
    killer.join();
    EXPECT_EQ(killed.Status, chosen);
    EXPECT_LT(killed.Seconds, 20.0) << "the launcher must end when its child is killed";
    EXPECT_EQ(killed.Stdout + killed.Stderr, "");
}
