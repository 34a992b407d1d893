#include "platform/run_child.h"

#include <windows.h>

#include "platform/child_console.h"
#include "platform/child_job.h"
#include "platform/child_start.h"
#include "platform/console_events.h"

// The platform's reason for the last failure, never 0 and never STILL_ACTIVE (259): a
// failure must not read as success, nor as a child still running.
static DWORD FailureStatus()
{
    const DWORD error = GetLastError();
    return error != 0 && error != STILL_ACTIVE ? error : 1;
}

// No child of ours runs any more, and whatever it started has left the job: the job need
// end nothing, so that our own exit, which closes it, ends nothing but us, with this status.
static DWORD NothingLeftToEnd(DWORD status)
{
    ChildEnded();
    return status;
}

unsigned long RunChild(const LaunchRequest& request)
{
    const bool inJob = JoinOwnJob();
    OutlastConsoleEvents();
    const StartFacts facts = FindStartFacts(inJob);
    const StartPlan plan = PlanStart(facts);
    PROCESS_INFORMATION child;
    if (!StartChild(request, facts, plan, child)) {
        // Nothing was started, so there is nothing to wait for or release.
        return NothingLeftToEnd(FailureStatus());
    }
    ChildStarted(child.hProcess, inJob);
    // Before a suspended child runs, so that a GUI child never finds the console; a child
    // that runs already (no job) may have seen it. Its image is read only where that counts.
    if (LetsConsoleGo(plan, plan.LeaveToGui ? ChildSubsystem(child.hProcess) : 0)) {
        FreeConsole();
    }
    DWORD status = 0;
    bool ended = false;
    if ((plan.CreationFlags & CREATE_SUSPENDED) && ResumeThread(child.hThread) == static_cast<DWORD>(-1)) {
        // A child that never runs would be waited for forever.
        status = FailureStatus();
        TerminateProcess(child.hProcess, status);
    } else {
        ended = WaitForSingleObject(child.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(child.hProcess, &status);
        if (!ended) {
            status = FailureStatus(); // the child may still run: the job ends it when we end
        }
    }
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return ended ? NothingLeftToEnd(status) : status;
}
