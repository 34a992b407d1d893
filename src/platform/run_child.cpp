#include "platform/run_child.h"

#include <windows.h>

#include "platform/child_job.h"

// Ctrl+C and Ctrl+Break reach every process on the console. The child decides what they
// mean; we stay until it has ended, so our caller never resumes while the child still
// owns the console. Unlike ignoring interrupts through a null handler, a handler of our
// own is not passed on to the child.
//
// Closing the console, logging off and shutting down reach every process too, and Windows
// gives each a few seconds to clean up before it ends them. Ending at once, we would end
// the child with our job and cut its seconds short. So this handler never returns for
// them: the main thread ends us as soon as the child has ended, or Windows does when the
// seconds run out.
static BOOL WINAPI OutlastInterrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        Sleep(INFINITE);
    }
    return TRUE;
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
    // The child runs outside the job for the few microseconds until it joins, while it is
    // still being loaded and far from starting anything of its own. A suspended start
    // would close that gap at the cost of a flag and a call on every launch.
    HANDLE job = EncloseInJob(child.hProcess);

    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    if (!GetExitCodeProcess(child.hProcess, &status)) {
        status = FailureStatus();
    }
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    if (job) {
        CloseHandle(job); // the child has ended; whatever it started left the job
    }
    return status;
}
