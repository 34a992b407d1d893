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

// Starts the child with our standard handles in its record, inherited with nothing else of
// ours, where we hand them on; else without them. Hands them on:
// - Without a console of ours. Windows would give a console child a new console of its
//   own, with a window, and that console's handles in place of ours. Started directly by
//   our caller, it would have had ours, so it gets them, with no console where our caller
//   asked for none. Where Windows cannot limit inheritance (before Vista), the child
//   inherits every handle our caller let us inherit, as a direct start by our caller would.
// - On a shared console, where one of them is redirected (prog > out.txt, a caller's
//   pipes): Windows hands a console child our standard handles by itself, but a GUI child
//   none, where a direct start by our caller hands it the file or the pipes. So all three
//   go explicitly, the console's too, and the child inherits those and nothing else (Vista
//   and later; earlier Windows keep to the console child's way). Console handles of
//   Windows before 8 are no real handles and are inherited by the console's own rules.
// Where we have no standard handle that the child could inherit, or the record carries a
// hot key in their place, the record's three fields go just as our caller gave them; on a
// shared console without STARTF_USESTDHANDLES, which Windows then ignores.
static BOOL StartWithStdHandles(const LaunchRequest& request, STARTUPINFOEXW& startup, DWORD flags, bool console,
                                PROCESS_INFORMATION& child)
{
    const HANDLE standard[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                                GetStdHandle(STD_ERROR_HANDLE)};
    const bool hotKey = (startup.StartupInfo.dwFlags & STARTF_USEHOTKEY) != 0; // in the field of standard input
    const bool handOn = !hotKey && (!console || Redirected(standard[0]) || Redirected(standard[1]) ||
                                    Redirected(standard[2]));
    HANDLE inherited[3];
    DWORD count = handOn ? InheritableStdHandles(standard, inherited) : 0;

    const auto initialize =
        Kernel32Function<decltype(&InitializeProcThreadAttributeList)>("InitializeProcThreadAttributeList");
    const auto update = Kernel32Function<decltype(&UpdateProcThreadAttribute)>("UpdateProcThreadAttribute");
    const auto release = Kernel32Function<decltype(&DeleteProcThreadAttributeList)>("DeleteProcThreadAttributeList");
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;
    SIZE_T size = 0;
    if (count > 0 && initialize && update && release && !initialize(nullptr, 1, 0, &size)) {
        list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(std::malloc(size));
        if (list && initialize(list, 1, 0, &size)) {
            if (update(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, count * sizeof(HANDLE), nullptr,
                       nullptr)) {
                startup.StartupInfo.cb = sizeof startup;
                startup.lpAttributeList = list;
                flags |= EXTENDED_STARTUPINFO_PRESENT;
            }
        } else {
            std::free(list);
            list = nullptr;
        }
    }
    if (console && !(flags & EXTENDED_STARTUPINFO_PRESENT)) {
        count = 0;
        startup.StartupInfo.dwFlags &= ~static_cast<DWORD>(STARTF_USESTDHANDLES);
    }
    if (count > 0) {
        startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = standard[0];
        startup.StartupInfo.hStdOutput = standard[1];
        startup.StartupInfo.hStdError = standard[2];
    }
    const BOOL started = CreateProcessW(request.ApplicationName, request.CommandLine, nullptr, nullptr, count > 0,
                                        flags, nullptr, nullptr, &startup.StartupInfo, &child);
    const DWORD error = GetLastError(); // the reason of a failed start, kept for our status
    if (list) {
        release(list);
        std::free(list);
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
    if (!console && CallerAskedForNoConsole()) {
        flags |= DETACHED_PROCESS;
    }
    return StartWithStdHandles(request, startup, flags, console, child);
}
