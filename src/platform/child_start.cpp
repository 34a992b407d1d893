#include "platform/child_start.h"

#include <cstdlib>

#include "platform/kernel32_function.h"

// Of the three standard handles in the record, those the child can inherit, each once.
// Missing ones are left out, and so are values with a low bit set, which name no handle
// of ours: INVALID_HANDLE_VALUE and the console handles of Windows before 8. The others
// are made inheritable, as our caller need not have marked them; a value that names no
// open handle fails there and is left out too.
static DWORD InheritableStdHandles(const STARTUPINFOW& startup, HANDLE (&inherited)[3])
{
    const HANDLE standard[3] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
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

// Without a console of ours, Windows would give a console child a new console of its own,
// with a window, and that console's handles in place of ours. Started directly by our
// caller, it would have had no console and our standard handles, so that is what it gets:
// no console, and our three standard handles handed on explicitly. Inheritance is limited
// to them where Windows can (Vista and later); earlier Windows hands the child every
// handle our caller let us inherit, as a direct start by our caller would.
static BOOL StartWithoutConsole(const LaunchRequest& request, DWORD flags, PROCESS_INFORMATION& child)
{
    STARTUPINFOEXW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE inherited[3];
    const DWORD count = InheritableStdHandles(startup.StartupInfo, inherited);

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
    const BOOL started = CreateProcessW(request.ApplicationName, request.CommandLine, nullptr, nullptr, count > 0,
                                        flags | DETACHED_PROCESS, nullptr, nullptr, &startup.StartupInfo, &child);
    const DWORD error = GetLastError(); // the reason of a failed start, kept for our status
    if (list) {
        release(list);
        std::free(list);
    }
    SetLastError(error);
    return started;
}

// Whether we are attached to a console: then its screen buffer opens, however our standard
// handles were redirected.
static bool HaveConsole()
{
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (screen == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(screen);
    return true;
}

BOOL StartChild(const LaunchRequest& request, DWORD flags, PROCESS_INFORMATION& child)
{
    ZeroMemory(&child, sizeof child);
    if (!HaveConsole()) {
        return StartWithoutConsole(request, flags, child);
    }
    // We share a console, and so does the child. Everything zero: no window placement,
    // title or standard handles of our own; for a console child Windows hands on our
    // standard handles itself, and nothing else of ours is inherited.
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    static_assert(sizeof(STARTUPINFOW) == (sizeof(void*) == 4 ? 68 : 104), "the startup record of x86 or x64 Windows");
    return CreateProcessW(request.ApplicationName, request.CommandLine, nullptr, nullptr, FALSE, flags, nullptr,
                          nullptr, &startup, &child);
}
