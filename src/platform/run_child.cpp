#include "platform/run_child.h"

#include <windows.h>

// Ctrl+C and Ctrl+Break reach every process on the console. The child decides what they
// mean; we stay until it has ended, so our caller never resumes while the child still
// owns the console. Unlike ignoring interrupts through a null handler, a handler of our
// own is not passed on to the child.
static BOOL WINAPI OutlastInterrupt(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// The platform's reason for the last failure, never 0: a failure must not read as success.
static DWORD FailureStatus()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : 1;
}

unsigned long RunChild(const LaunchRequest& request)
{
    // Everything zero: no window placement, title or standard handles of our own.
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104),
                  "the startup record of x86 or x64 Windows");

    PROCESS_INFORMATION child;
    ZeroMemory(&child, sizeof child);

    SetConsoleCtrlHandler(OutlastInterrupt, TRUE);

    if (!CreateProcessA(request.ApplicationName, request.CommandLine, nullptr, nullptr, FALSE,
                        0, nullptr, nullptr, &startup, &child)) {
        // Nothing was started, so there is nothing to wait for or release.
        return FailureStatus();
    }

    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    if (!GetExitCodeProcess(child.hProcess, &status)) {
        status = FailureStatus();
    }
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return status;
}
