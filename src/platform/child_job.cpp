#include "platform/child_job.h"

#include "platform/kernel32_function.h"

// Null where Windows gives no job. Never closed while Kivo runs: Kivo is in it, and closing
// the last handle would end Kivo with everything else in the job.
static HANDLE ownJob;
static decltype(&SetInformationJobObject) limitJob;
static decltype(&AssignProcessToJobObject) assignToJob;

static CRITICAL_SECTION limitsLock;
static bool childStarted, childReleased, childEnded;

// Sets the limits that the facts call for; the caller holds the lock. Before the start, no
// silent breakaway, or the child would be born outside: only a process started with
// CREATE_BREAKAWAY_FROM_JOB leaves, and Kivo does not ask for that.
static BOOL SetLimits()
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    DWORD& flags = limits.BasicLimitInformation.LimitFlags;
    flags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    flags |= childStarted ? JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK : 0;
    flags |= childReleased || childEnded ? 0 : JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    return ownJob && limitJob(ownJob, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// Records a fact and sets the limits it calls for.
static BOOL Set(bool& fact, bool value)
{
    EnterCriticalSection(&limitsLock);
    fact = value;
    const BOOL set = SetLimits();
    LeaveCriticalSection(&limitsLock);
    return set;
}

bool JoinOwnJob()
{
    InitializeCriticalSection(&limitsLock);
    const auto createJob = Kernel32Function<decltype(&CreateJobObjectA)>("CreateJobObjectA");
    limitJob = Kernel32Function<decltype(&SetInformationJobObject)>("SetInformationJobObject");
    assignToJob = Kernel32Function<decltype(&AssignProcessToJobObject)>("AssignProcessToJobObject");
    if (!createJob || !limitJob || !assignToJob) {
        return false;
    }
    ownJob = createJob(nullptr, nullptr);
    return Set(childStarted, false) && assignToJob(ownJob, GetCurrentProcess()); // the limits before the start
}

void ChildStarted(HANDLE process, bool bornInJob)
{
    // Where Kivo's caller put it in a job that lets children leave, a child born outside
    // every job can join this one; otherwise it stays where it was born.
    if (Set(childStarted, true) && !bornInJob) {
        assignToJob(ownJob, process);
    }
}

void ReleaseChild(bool released)
{
    Set(childReleased, released);
}

void ChildEnded()
{
    Set(childEnded, true);
}
