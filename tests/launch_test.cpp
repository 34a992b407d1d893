// Drives the real Kivo.exe with the probe as its child and checks what the child received
// and what the launcher's caller sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "kivo_run.h"

static const char UsageLine[] = "Kivo <Program> [Argument]";

TEST(Usage, NoOperandPrintsTheUsageLineAndEndsWithMinusOne)
{
    for (const Handles handles : {Handles::Pipes, Handles::StdoutToFile}) {
        SCOPED_TRACE(handles == Handles::Pipes ? "stdout is a pipe" : "stdout is a file");
        const KivoRun run = RunKivo({.StdHandles = handles});
        EXPECT_EQ(run.Stdout, UsageLine);
        EXPECT_EQ(run.Stdout.size(), 25u);
        EXPECT_EQ(run.Stderr, "");
        EXPECT_EQ(run.Status, 0xFFFFFFFFu);
        EXPECT_EQ(run.Processes, 1u) << "no child may be started";
    }
}

// Starts a request directly, as Kivo's caller would without Kivo: the code CreateProcessA
// gives, or 0 should it start. A child that started is ended at once, or, to finish,
// waited for.
static DWORD StartDirectly(const std::string& application, std::string commandLine, bool finish = false)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (CreateProcessA(application.empty() ? nullptr : application.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                       0, nullptr, nullptr, &startup, &child)) {
        if (finish && WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "started directly, '" << commandLine << "' did not end within 60 s";
        }
        if (!finish || WaitForSingleObject(child.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(child.hProcess, 0);
        }
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        return 0;
    }
    return GetLastError();
}

TEST(Launch, EachOperandFormHandsTheChildItsExactCommandLine)
{
    const std::string probe = ProbePath();
    // A copy of the probe in a folder whose name holds spaces.
    const std::string spaced = TempPath("dir with space");
    CreateDirectoryA(spaced.c_str(), nullptr);
    const std::string spacedProbe = spaced + "\\KivoProbe.exe";
    ASSERT_TRUE(CopyFileA(probe.c_str(), spacedProbe.c_str(), FALSE));
    // What a bare path with spaces becomes is the platform's to say: Windows hands the child
    // the path as it is, Wine quotes it.
    const std::string bareReport = FreshReport();
    ASSERT_EQ(StartDirectly("", spacedProbe, true), 0u);
    const std::string bareCommandLine = ReportValue(ReadFileText(bareReport), "cmdline");

    struct Row {
        const char* form;
        std::string operands;
        std::string module;
        std::string commandLine;
        DWORD status;
    };
    const Row rows[] = {
        // The runtime removes the grouping quotes and turns \" into "; the rest is kept as is.
        {"one operand", Quoted("\\\"" + probe + "\\\" /exit:5 a  b"), probe, Quoted(probe) + " /exit:5 a  b", 5},
        {"one operand, a bare path with spaces", Quoted(spacedProbe), spacedProbe, bareCommandLine, 0},
        {"two operands: the module is not part of the command line", Quoted(probe) + " \"/exit:6 first second\"",
         probe, "/exit:6 first second", 6},
        {"three operands: the second and third are dropped",
         Quoted("\\\"" + probe + "\\\" /exit:7 x") + " /exit:9 \"more words\"", probe, Quoted(probe) + " /exit:7 x", 7},
        {"four operands", Quoted(probe) + " /exit:8 c d", probe, probe, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.form);
        const std::string report = FreshReport();
        const KivoRun run = RunKivo({.Operands = row.operands});
        const std::string text = ReadFileText(report);
        EXPECT_EQ(ReportValue(text, "cmdline"), row.commandLine);
        EXPECT_TRUE(SamePath(ReportValue(text, "module"), row.module)) << ReportValue(text, "module");
        EXPECT_EQ(run.Status, row.status);
        EXPECT_EQ(run.Processes, 2u);
        EXPECT_EQ(run.Stdout + run.Stderr, "");
    }
    DeleteFileA(spacedProbe.c_str());
    RemoveDirectoryA(spaced.c_str());
}

TEST(Launch, TheChildsStatusComesBackWhole)
{
    const std::string probe = ProbePath();
    for (const DWORD status : {0ul, 7ul, 0x80000000ul, 0xC0000005ul}) {
        SCOPED_TRACE(status);
        const KivoRun run = RunKivo({.Operands = Quoted(probe) + " \"/exit:" + std::to_string(status) + "\""});
        EXPECT_EQ(run.Status, status);
    }
}

TEST(Launch, AFailedStartEndsAtOnceWithThePlatformsErrorCodeAndWritesNothing)
{
    const std::string notAProgram = TempPath("notes.exe");
    ASSERT_TRUE(WriteFileText(notAProgram, "just text, not a program\r\n"));
    const std::string folder = TempPath("folder.exe");
    CreateDirectoryA(folder.c_str(), nullptr);

    struct Row {
        const char* what;
        std::string application; // empty: the one-operand form
        std::string commandLine;
        DWORD documented; // the code Windows documents for it, or 0 where it varies
    };
    const Row rows[] = {
        {"no such program", "", "no-such-program-kivo.exe /exit:0", ERROR_FILE_NOT_FOUND},
        {"no such module, two operands", "no-such-program-kivo.exe", "/exit:0", ERROR_FILE_NOT_FOUND},
        {"a text file named like a program", "", notAProgram, ERROR_BAD_EXE_FORMAT},
        {"a directory", "", folder, 0},
        {"a path longer than MAX_PATH", "", "C:\\" + std::string(300, 'x') + ".exe", 0},
        {"the device NUL", "", "NUL", 0},
        {"the device CON", "", "CON", 0},
        {"one empty operand", "", "", 0},
        {"an operand of spaces only", "", "   ", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string report = FreshReport();
        const std::string operands =
            row.application.empty() ? Quoted(row.commandLine) : Quoted(row.application) + " " + Quoted(row.commandLine);
        const KivoRun run = RunKivo({.Operands = operands});
        const DWORD expected = StartDirectly(row.application, row.commandLine);
        EXPECT_NE(expected, 0u) << "the platform started it";
        EXPECT_EQ(run.Status, expected);
        if (row.documented != 0) {
            EXPECT_EQ(run.Status, row.documented);
        }
        EXPECT_EQ(run.Stdout + run.Stderr, "");
        EXPECT_EQ(run.Processes, 1u);
        EXPECT_EQ(ReadFileText(report), "");
        EXPECT_LT(run.Seconds, 10.0) << "nothing to wait for";
    }
    DeleteFileA(notAProgram.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(Wait, TheLauncherEndsWithItsChildAndNotBefore)
{
    const std::string probe = ProbePath();

    // While the child runs, the launcher sleeps in one wait and uses no processor time at
    // all. Measured on its own threads, so that whatever else the machine does cannot
    // count; a launcher that polled, even with Sleep(1), would wake hundreds of times.
    const std::string report = FreshReport();
    ProcessorUse used = {-1, 0};
    std::thread sampler = OnProbeReady([&] {
        const DWORD kivo = ParentOf(ReportNumber(ReadFileText(report), "pid"));
        Sleep(200); // for the launcher to reach its wait
        const ProcessorUse before = ProcessorUseOf(kivo);
        Sleep(2000);
        const ProcessorUse after = ProcessorUseOf(kivo);
        used = {after.Seconds - before.Seconds, after.Cycles - before.Cycles};
    });
    const KivoRun slow = RunKivo({.Operands = Quoted(probe) + " \"/ready /sleep:2600\""});
    sampler.join();
    EXPECT_GE(slow.Seconds, 2.5);
    EXPECT_EQ(ReportValue(ReadFileText(report), "done"), "yes") << "the child ended before the launcher";
    ASSERT_GE(used.Seconds, 0.0) << "the launcher's processor time was not measured";
    // Clock ticks are 10 to 16 ms: any tick at all is too much.
    EXPECT_LT(used.Seconds, 0.005) << "the launcher used processor time while its child ran";
    if (CyclesCounted()) {
        // A few wake-ups cost some 100 000 cycles; a wait costs none.
        EXPECT_LT(used.Cycles, 100000u) << "the launcher ran while its child ran";
    }

    // A grandchild that outlives the child does not hold the launcher, and the launcher's
    // end does not end it.
    const std::string spawnReport = FreshReport();
    const KivoRun spawning = RunKivo({.Operands = Quoted(probe) + " /spawn:20000"});
    EXPECT_LT(spawning.Seconds, 6.0);
    EXPECT_EQ(spawning.Processes, 3u);
    const DWORD id = ReportNumber(ReadFileText(spawnReport), "grandchild");
    const HANDLE grandchild = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
    ASSERT_NE(grandchild, nullptr);
    EXPECT_EQ(WaitForSingleObject(grandchild, 1000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the grandchild runs on after the launcher has ended";
    TerminateProcess(grandchild, 0);
    CloseHandle(grandchild);
}

// A pipe that the launcher's caller hands it beside its standard handles; the probe writes
// into it when it reaches the probe.
struct StrayPipe {
    HANDLE Read = nullptr, Write = nullptr;
    std::string Directive() const { return "/handle:" + std::to_string(reinterpret_cast<uintptr_t>(Write)); }
    // Whether anything arrived through it; closes it.
    bool Leaked()
    {
        CloseHandle(Write);
        DWORD available = 0;
        PeekNamedPipe(Read, nullptr, 0, nullptr, &available, nullptr);
        CloseHandle(Read);
        return available > 0;
    }
};

static StrayPipe MakeStrayPipe()
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    StrayPipe pipe;
    CreatePipe(&pipe.Read, &pipe.Write, &inheritable, 0);
    SetHandleInformation(pipe.Read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

// A startup record that asks for a show state, or a place and size, or a title, or a fill.
static STARTUPINFOA Shown(WORD show)
{
    STARTUPINFOA record = {};
    record.dwFlags = STARTF_USESHOWWINDOW;
    record.wShowWindow = show;
    return record;
}

static STARTUPINFOA Placed()
{
    STARTUPINFOA record = {};
    record.dwFlags = STARTF_USEPOSITION | STARTF_USESIZE | STARTF_USECOUNTCHARS;
    record.dwX = 120;
    record.dwY = 80;
    record.dwXSize = 640;
    record.dwYSize = 360;
    record.dwXCountChars = 100;
    record.dwYCountChars = 40;
    return record;
}

static STARTUPINFOA HotKey()
{
    STARTUPINFOA record = {};
    record.dwFlags = STARTF_USEHOTKEY;
    // Ctrl+Alt+K: the key, then the modifiers HOTKEYF_CONTROL | HOTKEYF_ALT (commctrl.h).
    record.hStdInput = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(MAKEWORD('K', 0x2 | 0x4)));
    return record;
}

static STARTUPINFOA Titled()
{
    STARTUPINFOA record = {};
    static char title[] = "My Title";
    record.lpTitle = title;
    record.dwFlags = STARTF_USEFILLATTRIBUTE;
    record.dwFillAttribute = FOREGROUND_RED | BACKGROUND_BLUE;
    return record;
}

// Whether the process with this id is attached to a console, as a process that tries to
// attach to that console finds: "yes" or "no".
static std::string ConsoleOf(DWORD process)
{
    const std::string report = TempPath("attach.txt"); // the child's own report stays open
    SetEnvironmentVariableA("KIVO_PROBE_OUT", report.c_str());
    StartDirectly("", Quoted(ProbePath()) + " /attach:" + std::to_string(process), true);
    return ReportValue(ReadFileText(report), "attached");
}

// However its caller starts the launcher, the child gets what the caller would give it
// started directly: the same kind of console or none, the launcher's standard handles and
// everything through them, its environment and directory, and no other handle; the same
// startup record and priority class, and so the same window.
TEST(Inherit, TheChildGetsWhatADirectStartWouldGiveIt)
{
    const std::string folder = TempPath("cwd");
    CreateDirectoryA(folder.c_str(), nullptr);
    const char value[] = "a value with spaces \xE9";
    SetEnvironmentVariableA("KIVO_PROBE_ENV", value);
    std::string input;
    while (input.size() < 100000) {
        input += "line " + std::to_string(input.size()) + " of the input\r\n";
    }
    const std::string echoed = "echoed " + std::to_string(input.size()) + " bytes";

    struct Row {
        const char* caller = nullptr;
        DWORD flags = 0;
        STARTUPINFOA record = {};
        bool gui = false;    // the child is the GUI probe, which opens a window
        Handles handles = Handles::Pipes; // what the caller gives the launcher
        // Whether the launcher is still on a console while its child runs; null: not asked.
        const char* launcherConsole = nullptr;
        // The caller's console shows a screen buffer that no other process may open.
        bool unsharedScreen = false;
        const char* notUnderWine = nullptr; // why the row cannot run under Wine
    };
    const Row rows[] = {
        {.caller = "shares its console"},
        {.caller = "starts it with no console", .flags = DETACHED_PROCESS},
        // One handle for output and error (a build tool's 2>&1, Python's stderr=STDOUT).
        {.caller = "hands it one pipe for output and error", .handles = Handles::OneForBoth},
        {.caller = "starts it with no console, one pipe for output and error",
         .flags = DETACHED_PROCESS,
         .handles = Handles::OneForBoth},
        // Windows lets no other process open such a buffer, but the console is there.
        {.caller = "shows a screen buffer of its own that no other process may open", .unsharedScreen = true},
        {.caller = "gives it a console without a window", .flags = CREATE_NO_WINDOW},
        {.caller = "gives it a console of its own", .flags = CREATE_NEW_CONSOLE, .launcherConsole = "yes"},
        {.caller = "makes it a process group of its own", .flags = CREATE_NEW_PROCESS_GROUP},
        // A detached spawn that hands over no standard handles at all.
        {.caller = "starts it with no console and no standard handles",
         .flags = DETACHED_PROCESS,
         .handles = Handles::NotGiven},
        // A GUI program on a shared console, its output redirected (pythonw job.py > log.txt).
        {.caller = "hides the window of a GUI program", .record = Shown(SW_HIDE), .gui = true, .launcherConsole = "yes"},
        {.caller = "starts a GUI program minimized", .record = Shown(SW_SHOWMINNOACTIVE), .gui = true},
        {.caller = "places and sizes a GUI program's window", .record = Placed(), .gui = true},
        {.caller = "titles and colours a new console", .flags = CREATE_NEW_CONSOLE, .record = Titled()},
        // A new console's handles are the launcher's, whatever the caller's own: the child's
        // record must not gain any.
        {.caller = "gives it a console of its own and no standard handles",
         .flags = CREATE_NEW_CONSOLE,
         .handles = Handles::NotGiven},
        {.caller = "gives it a console of its own, its own handles redirected",
         .flags = CREATE_NEW_CONSOLE,
         .handles = Handles::OwnPipes},
        {.caller = "gives it a hidden console of its own, its own handles redirected",
         .flags = CREATE_NEW_CONSOLE,
         .record = Shown(SW_HIDE),
         .handles = Handles::OwnPipes},
        {.caller = "titles and colours a new console, its own handles redirected",
         .flags = CREATE_NEW_CONSOLE,
         .record = Titled(),
         .handles = Handles::OwnPipes},
        {.caller = "sizes a new console's buffer, its own handles redirected",
         .flags = CREATE_NEW_CONSOLE,
         .record = Placed(),
         .handles = Handles::OwnPipes},
        // Its own standard handles redirected, as cmd hands on prog > out.txt.
        {.caller = "redirects its own standard handles", .handles = Handles::OwnPipes},
        {.caller = "redirects its own standard handles, for a GUI program", .gui = true, .handles = Handles::OwnPipes},
        // Nothing redirected: from Windows 8 on, a GUI program that a prompt starts inherits the
        // console's handles as its standard handles.
        {.caller = "shares its console with a GUI program", .gui = true, .handles = Handles::NotGiven},
        // A hot key takes the field of standard input, so it comes without standard handles.
        {.caller = "gives it a hot key", .record = HotKey(), .handles = Handles::NotGiven},
        {.caller = "gives it a hot key and no console",
         .flags = DETACHED_PROCESS,
         .record = HotKey(),
         .handles = Handles::NotGiven},
        // A GUI program started from Explorer or a shortcut: Windows makes a console for
        // the launcher alone, which it lets go of, as the child would have none.
        {.caller = "gives it a console of its own, for a GUI program",
         .flags = CREATE_NEW_CONSOLE,
         .record = Shown(SW_SHOWNORMAL),
         .gui = true,
         .launcherConsole = "no"},
        {.caller = "raises its priority",
         .flags = HIGH_PRIORITY_CLASS,
         .notUnderWine = "Wine 8 and Wine 10 start every process at normal priority, whatever its start asks for"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caller);
        if (row.notUnderWine && UnderWine()) {
            SkipRow(row.caller, row.notUnderWine);
            continue;
        }
        // The GUI probe by name alone, found by the platform's search in the folder of the
        // program that starts it: Kivo must tell a GUI program named so too.
        const std::string probe = row.gui ? "KivoGuiProbe" : ProbePath();
        const std::string window = row.gui ? " /window" : "";
        // Without standard handles of its own, a child on a console would read the console.
        // The probe echoes only where its standard handles are sure to be the caller's pipes:
        // a new console's are the console's on Windows.
        const bool captured = row.handles == Handles::Pipes || row.handles == Handles::OneForBoth ||
                              (row.handles == Handles::OwnPipes && !(row.flags & CREATE_NEW_CONSOLE));
        // With one handle for both, the report of the echo follows the echo.
        const bool oneForBoth = row.handles == Handles::OneForBoth;
        const std::string expectedOut = oneForBoth ? input + echoed : input;
        const std::string expectedErr = oneForBoth ? "" : echoed;
        HANDLE screen = INVALID_HANDLE_VALUE, shown = INVALID_HANDLE_VALUE;
        if (row.unsharedScreen) {
            shown = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
            screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
            if (screen == INVALID_HANDLE_VALUE || !SetConsoleActiveScreenBuffer(screen)) {
                SkipRow(row.caller, "this test program has no console to show the buffer in");
                CloseHandle(shown);
                continue;
            }
        }
        const std::string echo = captured ? "/echo " : "";
        StrayPipe stray = MakeStrayPipe();
        const KivoStart direct = {.Operands = echo + stray.Directive() + window,
                                  .Program = probe,
                                  .Directory = folder,
                                  .StdHandles = row.handles,
                                  .Input = captured ? input : "",
                                  .CreationFlags = row.flags,
                                  .Record = row.record};
        const std::string directReport = FreshReport();
        const KivoRun directRun = RunKivo(direct);
        const std::string expected = ReadFileText(directReport);
        EXPECT_TRUE(stray.Leaked()) << "started directly, the probe must find the pipe, or the check below proves nothing";
        if (captured) {
            EXPECT_EQ(directRun.Stdout, expectedOut);
            EXPECT_EQ(directRun.Stderr, expectedErr);
        }

        stray = MakeStrayPipe();
        KivoStart launched = direct;
        launched.Program.clear();
        const std::string linger = row.launcherConsole ? " /ready /sleep:2000" : "";
        const std::string directives = "/exit:7 " + echo + stray.Directive() + window + linger;
        // A name alone is searched for only in the one-operand form.
        launched.Operands = row.gui ? Quoted(probe + " " + directives) : Quoted(probe) + " " + Quoted(directives);
        const std::string report = FreshReport();
        std::string launcherConsole = "(not asked)";
        std::thread asker = row.launcherConsole ? OnProbeReady([&] {
            launcherConsole = ConsoleOf(ParentOf(ReportNumber(ReadFileText(report), "pid")));
        })
                                                : std::thread();
        const KivoRun run = RunKivo(launched);
        if (asker.joinable()) {
            asker.join();
            EXPECT_EQ(launcherConsole, row.launcherConsole) << "the launcher's console while its child runs";
        }
        const std::string text = ReadFileText(report);
        EXPECT_FALSE(stray.Leaked()) << "the child wrote into a handle it should not have";
        for (const char* key : {"show", "position", "size", "countchars", "fill", "title", "desktop", "priority",
                                "window_visible", "window_iconic", "window_rect"}) {
            EXPECT_EQ(ReportValue(text, key), ReportValue(expected, key)) << key;
        }
        // Wine 8 and Wine 10 keep no hot key: the field holds each process's own standard
        // input handle there, which differs from process to process.
        if (!UnderWine()) {
            EXPECT_EQ(ReportValue(text, "hotkey"), ReportValue(expected, "hotkey")) << "hotkey";
        }
        // Wine attaches even a GUI child to its parent's console, which Windows does not.
        if (!row.gui || !UnderWine()) {
            EXPECT_EQ(ReportValue(text, "console"), ReportValue(expected, "console"));
        }
        for (const char* key : {"stdin", "stdout", "stderr"}) {
            EXPECT_EQ(ReportValue(text, key), ReportValue(expected, key)) << key;
        }
        // STARTF_USESTDHANDLES among them: a child may tell redirected handles by it.
        EXPECT_EQ(ReportValue(text, "startflags"), ReportValue(expected, "startflags")) << "the startup flags";
        if (captured) {
            EXPECT_EQ(run.Stdout.size(), expectedOut.size());
            EXPECT_TRUE(run.Stdout == expectedOut) << "the child's output differs from its input";
            EXPECT_EQ(run.Stderr, expectedErr);
        } else {
            EXPECT_EQ(run.Stdout + run.Stderr, directRun.Stdout + directRun.Stderr);
        }
        EXPECT_EQ(run.Status, 7u);
        EXPECT_EQ(ReportValue(text, "env"), value);
        EXPECT_TRUE(SamePath(ReportValue(text, "cwd"), folder)) << ReportValue(text, "cwd");
        if (row.unsharedScreen) {
            SetConsoleActiveScreenBuffer(shown);
            CloseHandle(shown);
            CloseHandle(screen);
        }
    }
    SetEnvironmentVariableA("KIVO_PROBE_ENV", nullptr);
    RemoveDirectoryA(folder.c_str());
}

// The test itself shares the console and must outlive the interrupts it sends, also one
// that reaches it late: seen once under Wine 10, after the test had passed, ending the test
// program with the default handler's status. So the handler stays for the program's life.
static BOOL WINAPI SurviveInterrupt(DWORD event) { return event == CTRL_C_EVENT; }

TEST(Interrupt, CtrlCGoesToTheChildAndTheLauncherWaitsForIt)
{
    if (!UnderWine()) {
        // On Windows the console is shared with whoever ran the tests; interrupt a console
        // of our own instead.
        FreeConsole();
        AllocConsole();
        ShowWindow(GetConsoleWindow(), SW_HIDE);
    }
    const HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        GTEST_SKIP() << "no console here, so no Ctrl+C can be delivered (under Wine, run this test under a "
                        "pseudo-terminal, as ctest does)";
    }
    CloseHandle(console);
    SetConsoleCtrlHandler(SurviveInterrupt, TRUE);

    // Each child meets Ctrl+C started directly first: how it ends is the platform's to say
    // (Windows and Wine 10 end a process that Ctrl+C kills with STATUS_CONTROL_C_EXIT, Wine
    // 8 with 0). Through the launcher it must end the same way.
    struct Row {
        const char* child;
        const char* directives;
        const char* done; // what the child reports of its own normal end
    };
    const Row rows[] = {
        {"swallows Ctrl+C and ends later with its own status", "/ready /ctrlc", "yes"},
        {"dies of Ctrl+C", "/ready /sleep:10000", "(missing)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.child);
        KivoStart direct;
        direct.Program = ProbePath();
        direct.Operands = row.directives;
        KivoStart launched;
        launched.Operands = Quoted(ProbePath()) + " \"" + row.directives + "\"";
        KivoRun runs[2];
        std::string reports[2];
        for (int through = 0; through < 2; ++through) {
            const std::string report = FreshReport();
            std::thread interrupter = OnProbeReady([] { GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); });
            runs[through] = RunKivo(through ? launched : direct);
            interrupter.join();
            reports[through] = ReadFileText(report);
        }
        for (int through = 0; through < 2; ++through) {
            SCOPED_TRACE(through ? "through the launcher" : "started directly");
            EXPECT_EQ(ReportValue(reports[through], "done"), row.done);
            EXPECT_LT(runs[through].Seconds, 8.0) << "the child's 10 s sleep or wait should not have run out";
        }
        const KivoRun& run = runs[1];
        EXPECT_EQ(run.Status, runs[0].Status) << "the child's status, started directly";
        EXPECT_EQ(run.Processes, 2u);
        EXPECT_EQ(run.Stdout + run.Stderr, "");
    }
}

// Closing Kivo's console window: each child meets the end it would meet without Kivo. A
// console child gets the close event and its seconds to clean up, and Kivo ends with it;
// a GUI child gets no event and runs on after Windows has ended Kivo.
TEST(ConsoleClose, EachChildMeetsTheEndItWouldMeetWithoutTheLauncher)
{
    if (UnderWine()) {
        GTEST_SKIP() << "Wine delivers no console close event (Wine 8 and Wine 10 alike)";
    }
    struct Row {
        const char* child;
        std::string operands;
        bool gui;
    };
    const Row rows[] = {
        {"a console child", Quoted(ProbePath()) + " \"/ready /closeevent /sleep:60000\"", false},
        {"a GUI child", Quoted(GuiProbePath()) + " \"/ready /sleep:60000\"", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.child);
        const std::string report = FreshReport();
        HANDLE child = nullptr;
        std::thread closer = OnProbeReady([&] {
            const DWORD probe = ReportNumber(ReadFileText(report), "pid");
            child = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, probe);
            // The launcher's console window, found from inside its console; then away
            // from it, or the test would get the close event too.
            FreeConsole();
            HWND window = nullptr;
            if (AttachConsole(ParentOf(probe))) {
                window = GetConsoleWindow();
                FreeConsole();
            }
            PostMessageW(window, WM_CLOSE, 0, 0);
        });
        const KivoRun run = RunKivo({.Operands = row.operands, .CreationFlags = CREATE_NEW_CONSOLE});
        closer.join();
        ASSERT_NE(child, nullptr) << "the child never reported ready";
        const std::string text = ReadFileText(report);
        if (row.gui) {
            EXPECT_LT(run.Seconds, 40.0) << "Windows should have ended the launcher";
            EXPECT_EQ(WaitForSingleObject(child, 2000), static_cast<DWORD>(WAIT_TIMEOUT))
                << "the GUI child must run on after its launcher";
        } else {
            EXPECT_EQ(ReportValue(text, "close"), "yes");
            EXPECT_EQ(ReportValue(text, "cleanup"), "done") << "the child's seconds were cut short";
            EXPECT_EQ(run.Status, 5u) << "the launcher ends with its child";
        }
        TerminateProcess(child, 0);
        CloseHandle(child);
    }
}

// A caller without a console: Explorer, the Run box, a shortcut, a GUI program, one that
// let its console go; it gives no standard handles, though its own may be redirected (under
// Wine, this test program's are). Windows 11 24H2 and later then start Kivo without a
// console (its manifest asks for that), so that no window of Kivo's ever shows: a console
// child gets what it asked of Windows, made for itself alone with its own path as title, and
// a GUI child no console, as started directly. Earlier Windows, and Wine, make a console for
// Kivo, which a console child shares and which Kivo lets go for a GUI child. Either way the
// child's startup record and standard handles are the direct start's. And a GUI child that
// attaches to its parent's console as it starts finds none on a console made for Kivo alone,
// on any Windows, as it finds none started directly by such a caller.
TEST(NoConsole, ACallerWithoutAConsoleGivesTheChildWhatADirectStartWould)
{
    FreeConsole(); // this test program is now such a caller
    const bool policy = GetProcAddress(GetModuleHandleA("kernel32"), "AllocConsoleWithOptions") != nullptr;
    struct Row {
        const char* caller;
        bool gui = false;
        DWORD flags = 0;
        std::string directives = "";
        const char* notUnderWine = nullptr; // why the row cannot run under Wine
    };
    const Row rows[] = {
        {.caller = "starts a console program"},
        {.caller = "starts a GUI program", .gui = true},
        {.caller = "asks for no console", .flags = DETACHED_PROCESS},
        {.caller = "asks for no console, for a GUI program", .gui = true, .flags = DETACHED_PROCESS},
        // A build tool's or a task runner's start (.NET's CreateNoWindow): on 24H2, Kivo has
        // no console then, and the child must still get one without a window.
        {.caller = "asks for a console without a window", .flags = CREATE_NO_WINDOW},
        {.caller = "asks for a console without a window, for a GUI program", .gui = true, .flags = CREATE_NO_WINDOW},
        {.caller = "asks for a new console", .flags = CREATE_NEW_CONSOLE},
        {.caller = "asks for a new console, for a GUI program that attaches to its parent's",
         .gui = true,
         .flags = CREATE_NEW_CONSOLE,
         .directives = "/attach:parent ",
         .notUnderWine = "Wine 8 and Wine 10 attach a GUI child to its parent's console"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caller);
        if (row.notUnderWine && UnderWine()) {
            SkipRow(row.caller, row.notUnderWine);
            continue;
        }
        const std::string child = row.gui ? GuiProbePath() : ProbePath();
        const std::string directives = row.directives + "/ready /sleep:2000";
        const std::string directReport = FreshReport();
        RunKivo({.Operands = directives,
                 .Program = child,
                 .StdHandles = Handles::NotGiven,
                 .CreationFlags = row.flags});
        const std::string expected = ReadFileText(directReport);
        const std::string report = FreshReport();
        std::string launcherConsole = "(not asked)";
        std::thread asker = OnProbeReady([&] {
            launcherConsole = ConsoleOf(ParentOf(ReportNumber(ReadFileText(report), "pid")));
        });
        const KivoRun run = RunKivo({.Operands = Quoted(child) + " " + Quoted(directives),
                                     .StdHandles = Handles::NotGiven,
                                     .CreationFlags = row.flags});
        asker.join();
        const std::string text = ReadFileText(report);
        EXPECT_EQ(run.Status, 0u);
        for (const char* key : {"startflags", "show", "title", "attached"}) {
            EXPECT_EQ(ReportValue(text, key), ReportValue(expected, key)) << key;
        }
        // A console made for Kivo takes the place of its standard handles (Windows and Wine
        // alike), so a GUI child, for which Kivo lets that console go, cannot get the
        // caller's; on 24H2 and later Kivo keeps them.
        if (!row.gui || policy) {
            for (const char* key : {"stdin", "stdout", "stderr"}) {
                EXPECT_EQ(ReportValue(text, key), ReportValue(expected, key)) << key;
            }
        }
        // A console child shares a console that was made for Kivo, but for where Kivo has
        // none. Wine attaches even a GUI child to its parent's console, which Windows does not.
        const bool launcherAlone = policy || row.gui || (row.flags & DETACHED_PROCESS);
        EXPECT_EQ(launcherConsole, launcherAlone ? "no" : "yes") << "the launcher's console while its child runs";
        if (!(row.gui && UnderWine())) {
            EXPECT_EQ(ReportValue(text, "console"), ReportValue(expected, "console"));
            EXPECT_EQ(ReportValue(text, "console_window"), ReportValue(expected, "console_window"));
            if (launcherAlone) {
                for (const char* key : {"console_processes", "console_title"}) {
                    EXPECT_EQ(ReportValue(text, key), ReportValue(expected, key)) << key;
                }
            }
        }
    }
}

// Text that the test run's ANSI code page lacks: CJK, a character beyond the Basic
// Multilingual Plane (a surrogate pair), and e with a combining accent beside a
// precomposed e acute. A wildcard or a different letter in their place would be as bad as
// losing them.
static const wchar_t Unusual[] = L"\u6587\u4EF6-\U0001F600-e\u0301-\u00E9";

TEST(Launch, EveryCharacterAWideCallerPassesReachesTheChild)
{
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Unusual, -1, nullptr, 0, nullptr, &lost);
    ASSERT_TRUE(lost) << "code page " << GetACP() << " holds every character, so nothing here could go wrong; "
                      << "run the tests in one that does not (under Wine, C.UTF-8 or en_US gives 1252)";

    // A copy of the probe in a folder whose name has no ANSI form.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = temp + std::wstring(L"kivo-") + std::to_wstring(GetCurrentProcessId()) + L"-\u76EE\u5F55";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring probe = Widen(ProbePath());
    const std::wstring farProbe = folder + L"\\KivoProbe.exe";
    ASSERT_TRUE(CopyFileW(probe.c_str(), farProbe.c_str(), FALSE));
    // 22 000 CJK characters: 66 000 bytes in UTF-8, more than a byte count of 16 bits
    // carries. And unpaired surrogates, which file names may hold and no other encoding
    // keeps.
    std::wstring longText;
    while (longText.size() < 22000) {
        longText += L"\u6587\u4EF6";
    }
    const std::wstring lone = L"a\xD800" L"b\xDC00" L"c\xDBFF";

    struct Row {
        const char* form;
        std::wstring operands;
        std::wstring module;
        std::wstring commandLine;
        DWORD status;
    };
    const Row rows[] = {
        {"one operand", L"\"\\\"" + probe + L"\\\" /exit:3 " + Unusual + L"\"", probe,
         L"\"" + probe + L"\" /exit:3 " + Unusual, 3},
        {"a module in a folder with no ANSI name, one operand", L"\"\\\"" + farProbe + L"\\\" /exit:4 " + Unusual + L"\"",
         farProbe, L"\"" + farProbe + L"\" /exit:4 " + Unusual, 4},
        {"the same module, two operands", L"\"" + farProbe + L"\" \"probe /exit:5 " + Unusual + L"\"", farProbe,
         L"probe /exit:5 " + std::wstring(Unusual), 5},
        {"a line of 22 000 characters", L"\"" + probe + L"\" \"probe /exit:6 " + longText + L"\"", probe,
         L"probe /exit:6 " + longText, 6},
        {"unpaired surrogates", L"\"" + probe + L"\" \"probe /exit:7 " + lone + L"\"", probe, L"probe /exit:7 " + lone, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.form);
        const std::string report = FreshReport();
        const KivoRun run = RunKivo({.WideOperands = row.operands});
        const std::string text = ReadFileText(report);
        EXPECT_EQ(ReportValue(text, "cmdline_utf16"), Utf16Hex(row.commandLine)) << "unit for unit";
        const std::wstring module = Widen(ReportValue(text, "module_utf8"), CP_UTF8);
        EXPECT_TRUE(SamePath(module, row.module)) << ReportValue(text, "module_utf8");
        EXPECT_EQ(run.Status, row.status);
        EXPECT_EQ(run.Stdout + run.Stderr, "");
    }
    DeleteFileW(farProbe.c_str());
    RemoveDirectoryW(folder.c_str());
}
