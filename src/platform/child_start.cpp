#include "platform/child_start.h"

#include <cstdlib>
#include <cwchar>

#include "platform/child_console.h"
#include "platform/kernel32_function.h"

// Of our three standard handles, those the child can inherit, each once. Missing ones are
// left out, and so are values with a low bit set, which name no handle of ours:
// INVALID_HANDLE_VALUE and the console handles of Windows before 8. The others are made
// inheritable, as our caller need not have marked them; a value that names no open handle
// fails there and is left out too.
static DWORD InheritableStdHandles(const HANDLE (&standard)[3], HANDLE (&inherited)[3])
{
    DWORD count = 0;
    for (HANDLE handle : standard) {
        bool listed = handle == nullptr || (reinterpret_cast<ULONG_PTR>(handle) & 3) != 0;
        for (DWORD index = 0; index < count; ++index) {
            listed = listed || inherited[index] == handle; // as with 2>&1
        }
        if (!listed && SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            inherited[count++] = handle;
        }
    }
    return count;
}

// The record our caller started us with, made the child's: a direct start by our caller
// would have handed the child the same show state, window place and size, console size,
// colours and title, desktop, and the flags that go with them. The three standard handles
// in it are left to the callers of this function.
static STARTUPINFOW CallersRecord()
{
    STARTUPINFOW startup;
    GetStartupInfoW(&startup);
    startup.cb = sizeof startup;
    // Reserved for the platform; and the C runtime's description of its own handles for
    // its child, which would name handles that the child does not inherit from us.
    startup.lpReserved = nullptr;
    startup.cbReserved2 = 0;
    startup.lpReserved2 = nullptr;
    // Given no title, Windows puts the program's own path in the record: ours stands for
    // none, and the child gets its own.
    static wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, sizeof self / sizeof self[0]);
    if (startup.lpTitle && length > 0 && _wcsicmp(startup.lpTitle, self) == 0) {
        startup.lpTitle = nullptr;
    }
    return startup;
}

// Whether a standard handle of ours is redirected: it names an object, and not a console's.
static bool Redirected(HANDLE handle)
{
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && !GetConsoleMode(handle, &mode);
}

static void DeleteHandleList(LPPROC_THREAD_ATTRIBUTE_LIST list)
{
    const auto release = Kernel32Function<decltype(&DeleteProcThreadAttributeList)>("DeleteProcThreadAttributeList");
    if (release) {
        release(list);
    }
    std::free(list);
}

// A list of the handles to inherit, or null where Windows cannot limit inheritance (before
// Vista) or the list cannot be made. DeleteHandleList releases it.
static LPPROC_THREAD_ATTRIBUTE_LIST HandleList(HANDLE (&inherited)[3], DWORD count)
{
    const auto initialize =
        Kernel32Function<decltype(&InitializeProcThreadAttributeList)>("InitializeProcThreadAttributeList");
    const auto update = Kernel32Function<decltype(&UpdateProcThreadAttribute)>("UpdateProcThreadAttribute");
    SIZE_T size = 0;
    if (!initialize || !update || initialize(nullptr, 1, 0, &size)) {
        return nullptr;
    }
    auto* const list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(std::malloc(size));
    if (!list || !initialize(list, 1, 0, &size)) {
        std::free(list);
        return nullptr;
    }
    if (!update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, count * sizeof(HANDLE), nullptr, nullptr)) {
        DeleteHandleList(list);
        return nullptr;
    }
    return list;
}

// Starts the child with our standard handles as a direct start by our caller would hand
// them on, inherited with nothing else of ours:
// - Where our caller's record named them (STARTF_USESTDHANDLES), the child's names ours.
// - Else the child's record names none either, and Windows hands the child our standard
//   handles by its own rules: "the parent's standard handles are inherited by any child
//   process" (the Console Handles page), as a caller that redirects its own (SetStdHandle,
//   as cmd does for prog > out.txt) hands them on. A console child sharing our console gets
//   the console's by the console's rules; where one of ours is redirected, a GUI child gets
//   the file or the pipes only if they are inherited, so all three are.
// - A child started with no console (DETACHED_PROCESS) is handed no standard handle of ours
//   unless its record names them, so it names any we have: those that Windows or Wine
//   gave us without our caller naming them (a Unix shell's, under Wine).
// Inheritance is limited to them on Vista and later. Before Vista, a child without a console
// that our caller named them for inherits every handle our caller let us inherit, as a direct
// start would; elsewhere nothing is inherited then, and a child on our console keeps to the
// console's handles. Console handles of Windows before 8 are no real handles and are
// inherited by the console's own rules.
static BOOL StartWithStdHandles(const LaunchRequest& request, STARTUPINFOEXW& startup, DWORD flags, bool console,
                                PROCESS_INFORMATION& child)
{
    const HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                                GetStdHandle(STD_ERROR_HANDLE)};
    STARTUPINFOW& record = startup.StartupInfo;
    // A hot key takes the field of standard input, and Windows allows no handles beside it.
    const bool hotKey = (record.dwFlags & STARTF_USEHOTKEY) != 0;
    const bool named = !hotKey && (record.dwFlags & STARTF_USESTDHANDLES) != 0;
    const bool detached = !hotKey && (flags & DETACHED_PROCESS) != 0;
    HANDLE inherited[3];
    DWORD count = named || detached || Redirected(standard[0]) || Redirected(standard[1]) || Redirected(standard[2])
                      ? InheritableStdHandles(standard, inherited)
                      : 0;
    bool nameThem = named || (detached && count > 0);
    LPPROC_THREAD_ATTRIBUTE_LIST list = count > 0 ? HandleList(inherited, count) : nullptr;
    if (list) {
        record.cb = sizeof startup;
        startup.lpAttributeList = list;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    } else if (count > 0 && (console || !named || Kernel32Procedure("InitializeProcThreadAttributeList"))) {
        count = 0; // inheritance could not be limited to them
        nameThem = named && !console;
    }
    if (nameThem) {
        record.dwFlags |= STARTF_USESTDHANDLES;
        record.hStdInput = standard[0];
        record.hStdOutput = standard[1];
        record.hStdError = standard[2];
    } else if (named) {
        record.dwFlags &= ~static_cast<DWORD>(STARTF_USESTDHANDLES);
    }
    const BOOL started = CreateProcessW(request.ApplicationName, request.CommandLine, nullptr, nullptr, count > 0,
                                        flags, nullptr, nullptr, &record, &child);
    const DWORD error = GetLastError(); // the reason of a failed start, kept for our status
    if (list) {
        DeleteHandleList(list);
    }
    SetLastError(error);
    return started;
}

BOOL StartChild(const LaunchRequest& request, DWORD flags, PROCESS_INFORMATION& child)
{
    ZeroMemory(&child, sizeof child);
    STARTUPINFOEXW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.StartupInfo = CallersRecord();
    static_assert(sizeof(STARTUPINFOW) == (sizeof(void*) == 4 ? 68 : 104), "the startup record of x86 or x64 Windows");
    // Windows gives a child the normal priority class unless its start asks for another;
    // only idle and below normal pass on by themselves. Started by our caller, the child
    // would have had ours, which our caller chose: so ours is asked for.
    flags |= GetPriorityClass(GetCurrentProcess());
    const bool console = HaveConsole();
    if (!console) {
        flags |= CallersConsoleFlags();
    }
    return StartWithStdHandles(request, startup, flags, console, child);
}
