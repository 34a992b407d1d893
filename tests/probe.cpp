// A child for the launcher's tests. It writes what it received, a line at a time, to the
// file that KIVO_PROBE_OUT names (its command line and module name in its code page; from
// the wide API, its module name as UTF-8 and its command line as UTF-16 code units in
// hex, unit for unit; its arguments as the runtime splits its command line, narrow and wide;
// whether it has a console, and what its three standard handles are), and acts on
// directives found anywhere in its command line:
//   /exit:N     end with status N (decimal, all 32 bits)
//   /sleep:MS   sleep before ending
//   /spawn:MS   start a quiet copy of itself that sleeps MS, report its id, end at once
//   /handle:N   if handle value N is an open pipe here, and none of the probe's standard
//               handles, write "leak" into it
//   /echo       copy standard input to standard output until it ends, then write
//               "echoed N bytes" to standard error
//   /ready      set the event that KIVO_PROBE_READY names, once the probe is set up
//   /ctrlc      survive Ctrl+C; end with 42 once one came, or with 3 after 10 s
//   /closeevent on the console's close event, report it, clean up for a second (report
//               that too), then end with status 5
//   /crash      die of an access violation
//   /quiet      write no report
//   /window     open a window as a GUI program does, shown as the startup record asks
//               (WinMain's nCmdShow), and report whether it is visible or minimized, and where
//   /attach:PID attach to the console of the process with that id, report whether that
//               worked, and leave it again; /attach:parent does so with its parent's
//               console first thing, as a GUI program that prints to its caller's does
// It also reports its startup record (flags, show state, position, size, character
// counts, fill, hot key, title, desktop), its priority class, and how many processes its
// console has, what the console's title is, and whether it has a window, shown or hidden.
#include <windows.h>

#ifdef _MSC_VER
#include <corecrt_startup.h>
#endif

#include <cstdint>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static HANDLE g_report = INVALID_HANDLE_VALUE;
static HANDLE g_interrupted = nullptr;

static void Report(const char* key, const char* value)
{
    if (g_report == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(g_report, key, static_cast<DWORD>(std::strlen(key)), &written, nullptr);
    WriteFile(g_report, "=", 1, &written, nullptr);
    WriteFile(g_report, value, static_cast<DWORD>(std::strlen(value)), &written, nullptr);
    WriteFile(g_report, "\n", 1, &written, nullptr);
}

// Wide text as its UTF-16 code units, four hex digits each: exact even for text that no
// other encoding holds, such as an unpaired surrogate.
static const char* Hex(const wchar_t* text)
{
    static char hex[4 * 32768 + 1];
    size_t at = 0;
    for (; *text && at + 4 < sizeof hex; ++text) {
        std::snprintf(hex + at, 5, "%04X", static_cast<unsigned>(*text));
        at += 4;
    }
    hex[at] = '\0';
    return hex;
}

// The runtime's own wide split of the command line, as wmain would receive it: msvcrt.dll
// hands it out through __wgetmainargs, the Universal CRT of MSVC through __wargv once asked.
#ifdef _MSC_VER
static void WideArguments(int& count, wchar_t**& arguments)
{
    _configure_wide_argv(_crt_argv_unexpanded_arguments);
    count = __argc;
    arguments = __wargv;
}
#else
struct StartupInfo {
    int NewMode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int wildcards, StartupInfo* info);

static void WideArguments(int& count, wchar_t**& arguments)
{
    wchar_t** environment = nullptr;
    StartupInfo info = {0};
    __wgetmainargs(&count, &arguments, &environment, 0, &info);
}
#endif

static void ReportArguments(int argc, char* argv[])
{
    char key[32];
    std::snprintf(key, sizeof key, "%d", argc);
    Report("argc", key);
    for (int index = 1; index < argc; ++index) {
        std::snprintf(key, sizeof key, "argv%d", index);
        Report(key, argv[index]);
    }
    int wideCount = 0;
    wchar_t** wideArgv = nullptr;
    WideArguments(wideCount, wideArgv);
    std::snprintf(key, sizeof key, "%d", wideCount);
    Report("wargc", key);
    for (int index = 1; index < wideCount; ++index) {
        std::snprintf(key, sizeof key, "wargv%d_utf16", index);
        Report(key, Hex(wideArgv[index]));
    }
}

// The number after a directive, or fallback when the directive is absent.
static unsigned long Directive(const char* commandLine, const char* name, unsigned long fallback)
{
    const char* at = std::strstr(commandLine, name);
    return at ? std::strtoul(at + std::strlen(name), nullptr, 10) : fallback;
}

// Wide text as UTF-8, so that the report keeps every character.
static const char* Utf8(const wchar_t* text)
{
    static char utf8[3 * 32768];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr) == 0) {
        std::strcpy(utf8, "(not convertible)");
    }
    return utf8;
}

static BOOL WINAPI NoteInterrupt(DWORD event)
{
    if (event != CTRL_C_EVENT) {
        return FALSE;
    }
    SetEvent(g_interrupted);
    return TRUE;
}

static BOOL WINAPI MeetClose(DWORD event)
{
    if (event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    Report("close", "yes");
    Sleep(1000);
    Report("cleanup", "done");
    ExitProcess(5);
}

static LONG WINAPI EndWithFaultCode(EXCEPTION_POINTERS*)
{
    return EXCEPTION_EXECUTE_HANDLER;
}

// What a standard handle is: a console, a pipe, a disk file, another character device
// (NUL), none, or a value that names no open object.
static const char* HandleKind(HANDLE handle)
{
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return "none";
    }
    if (GetConsoleMode(handle, &mode)) {
        return "console";
    }
    switch (GetFileType(handle)) {
    case FILE_TYPE_PIPE:
        return "pipe";
    case FILE_TYPE_DISK:
        return "disk";
    case FILE_TYPE_CHAR:
        return "char";
    default:
        return "invalid";
    }
}

// A console is attached when its input buffer or its screen buffer can be opened: another
// process may have made either one unshared.
static const char* HasConsole()
{
    for (const char* name : {"CONIN$", "CONOUT$"}) {
        const HANDLE buffer = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (buffer != INVALID_HANDLE_VALUE) {
            CloseHandle(buffer);
            return "yes";
        }
    }
    return "no";
}

static void ReportNumber(const char* key, unsigned long number, const char* format = "%lu")
{
    char text[32];
    std::snprintf(text, sizeof text, format, number);
    Report(key, text);
}

static void ReportPair(const char* key, unsigned long first, unsigned long second)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lu,%lu", first, second);
    Report(key, text);
}

static void ReportStartup()
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    ReportNumber("startflags", startup.dwFlags, "%#lx");
    ReportNumber("show", startup.wShowWindow);
    ReportPair("position", startup.dwX, startup.dwY);
    ReportPair("size", startup.dwXSize, startup.dwYSize);
    ReportPair("countchars", startup.dwXCountChars, startup.dwYCountChars);
    ReportNumber("fill", startup.dwFillAttribute, "%#lx");
    if (startup.dwFlags & STARTF_USEHOTKEY) {
        ReportNumber("hotkey", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(startup.hStdInput)), "%#lx");
    }
    Report("title", startup.lpTitle ? Utf8(startup.lpTitle) : "(null)");
    Report("desktop", startup.lpDesktop ? Utf8(startup.lpDesktop) : "(null)");
    ReportNumber("priority", GetPriorityClass(GetCurrentProcess()), "%#lx");
}

// A window as a GUI program opens its main one: placed and sized by default, which the
// startup record may override, and shown as the record says.
static void OpenWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KivoProbeWindow";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowW(windowClass.lpszClassName, L"Kivo probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                      windowClass.hInstance, nullptr);
    if (!window) {
        ReportNumber("window_error", GetLastError());
        return;
    }
    // What WinMain receives as its nCmdShow, as a GUI program shows its main window.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    ShowWindow(window, (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT);
    Report("window_visible", IsWindowVisible(window) ? "yes" : "no");
    Report("window_iconic", IsIconic(window) ? "yes" : "no");
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    const RECT& normal = placement.rcNormalPosition;
    char rect[64];
    std::snprintf(rect, sizeof rect, "%ld,%ld,%ld,%ld", normal.left, normal.top, normal.right, normal.bottom);
    Report("window_rect", rect);
}

static void AttachTo(DWORD process)
{
    FreeConsole();
    const bool attached = AttachConsole(process);
    Report("attached", attached ? "yes" : "no");
    if (attached) {
        FreeConsole();
    }
}

static bool IsStandardHandle(HANDLE handle)
{
    return handle == GetStdHandle(STD_INPUT_HANDLE) || handle == GetStdHandle(STD_OUTPUT_HANDLE) ||
           handle == GetStdHandle(STD_ERROR_HANDLE);
}

static void Echo()
{
    char buffer[4096];
    DWORD got = 0, written = 0;
    unsigned long total = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, got, &written, nullptr);
        total += got;
    }
    const int length = std::snprintf(buffer, sizeof buffer, "echoed %lu bytes", total);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), buffer, static_cast<DWORD>(length), &written, nullptr);
}

static void SpawnSleeper(unsigned long milliseconds)
{
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    char commandLine[MAX_PATH + 64];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\" /quiet /sleep:%lu", module, milliseconds);
    // No standard handles, so the sleeper keeps no pipe of the test's open.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION sleeper = {};
    if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &sleeper)) {
        char id[16];
        std::snprintf(id, sizeof id, "%lu", sleeper.dwProcessId);
        Report("grandchild", id);
        CloseHandle(sleeper.hProcess);
        CloseHandle(sleeper.hThread);
    }
}

int main(int argc, char* argv[])
{
    const char* commandLine = GetCommandLineA();
    const char* attach = std::strstr(commandLine, "/attach:");
    const bool toParent = attach && std::strncmp(attach + 8, "parent", 6) == 0;
    const bool attachedToParent = toParent && AttachConsole(ATTACH_PARENT_PROCESS);
    char path[32768];
    if (!std::strstr(commandLine, "/quiet") &&
        GetEnvironmentVariableA("KIVO_PROBE_OUT", path, sizeof path) > 0) {
        g_report = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    Report("cmdline", commandLine);
    Report("cmdline_utf16", Hex(GetCommandLineW()));
    ReportArguments(argc, argv);
    GetModuleFileNameA(nullptr, path, sizeof path);
    Report("module", path);
    wchar_t widePath[32768];
    GetModuleFileNameW(nullptr, widePath, 32768);
    Report("module_utf8", Utf8(widePath));
    GetCurrentDirectoryA(sizeof path, path);
    Report("cwd", path);
    if (GetEnvironmentVariableA("KIVO_PROBE_ENV", path, sizeof path) == 0) {
        std::strcpy(path, "(unset)");
    }
    Report("env", path);
    std::snprintf(path, sizeof path, "%lu", GetCurrentProcessId());
    Report("pid", path);
    Report("console", HasConsole());
    DWORD processes[16];
    ReportNumber("console_processes", GetConsoleProcessList(processes, 16));
    wchar_t title[1024] = L"";
    GetConsoleTitleW(title, 1024);
    Report("console_title", Utf8(title));
    const HWND consoleWindow = GetConsoleWindow();
    Report("console_window", !consoleWindow ? "none" : IsWindowVisible(consoleWindow) ? "shown" : "hidden");
    Report("stdin", HandleKind(GetStdHandle(STD_INPUT_HANDLE)));
    Report("stdout", HandleKind(GetStdHandle(STD_OUTPUT_HANDLE)));
    Report("stderr", HandleKind(GetStdHandle(STD_ERROR_HANDLE)));
    ReportStartup();

    // Only a handle that the probe was handed beside its standard ones: one of those may
    // carry the same value by chance.
    const HANDLE handle = reinterpret_cast<HANDLE>(Directive(commandLine, "/handle:", 0));
    if (handle && !IsStandardHandle(handle) && GetFileType(handle) == FILE_TYPE_PIPE) {
        DWORD written = 0;
        WriteFile(handle, "leak", 4, &written, nullptr);
    }

    if (std::strstr(commandLine, "/window")) {
        OpenWindow();
    }
    if (toParent) {
        Report("attached", attachedToParent ? "yes" : "no");
        FreeConsole();
    } else if (attach) {
        AttachTo(Directive(commandLine, "/attach:", 0));
    }
    if (std::strstr(commandLine, "/echo")) {
        Echo();
    }
    if (std::strstr(commandLine, "/spawn:")) {
        SpawnSleeper(Directive(commandLine, "/spawn:", 0));
    }

    unsigned long status = Directive(commandLine, "/exit:", 0);
    if (std::strstr(commandLine, "/ctrlc")) {
        g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(NoteInterrupt, TRUE);
    }
    if (std::strstr(commandLine, "/closeevent")) {
        SetConsoleCtrlHandler(MeetClose, TRUE);
    }
    if (std::strstr(commandLine, "/ready") &&
        GetEnvironmentVariableA("KIVO_PROBE_READY", path, sizeof path) > 0) {
        const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, path);
        SetEvent(ready);
        CloseHandle(ready);
    }
    if (g_interrupted) {
        const bool came = WaitForSingleObject(g_interrupted, 10000) == WAIT_OBJECT_0;
        Report("interrupt", came ? "yes" : "no");
        status = came ? 42 : 3;
    }
    Sleep(Directive(commandLine, "/sleep:", 0));
    if (std::strstr(commandLine, "/crash")) {
        // End with the exception's code, as an unhandled fault does, but without the
        // debugger that Wine would start.
        SetUnhandledExceptionFilter(EndWithFaultCode);
        volatile uintptr_t nowhere = 0; // not a constant, so the compiler emits a real store
        *reinterpret_cast<volatile int*>(nowhere) = 0;
    }

    Report("done", "yes");
    CloseHandle(g_report);
    ExitProcess(static_cast<UINT>(status));
}
