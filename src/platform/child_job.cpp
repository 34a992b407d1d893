#include "platform/child_job.h"

#include "platform/kernel32_function.h"

// Null where Windows gives no job. Never closed while Kivo runs: Kivo is in it, and closing
// the last handle would end Kivo with everything else in the job.
static HANDLE ownJob;
static decltype(&SetInformationJobObject) limitJob;
static decltype(&AssignProcessToJobObject) assignToJob;

static const DWORD EndsWithLauncher = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
static const DWORD GrandchildrenLeave = JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
static const DWORD Tied = EndsWithLauncher | GrandchildrenLeave;

static BOOL Limit(DWORD flags)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = flags;
    return ownJob && limitJob(ownJob, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

bool JoinOwnJob()
{
    const auto createJob = Kernel32Function<decltype(&CreateJobObjectA)>("CreateJobObjectA");
    limitJob = Kernel32Function<decltype(&SetInformationJobObject)>("SetInformationJobObject");
    assignToJob = Kernel32Function<decltype(&AssignProcessToJobObject)>("AssignProcessToJobObject");
    if (!createJob || !limitJob || !assignToJob) {
        return false;
    }
    ownJob = createJob(nullptr, nullptr);
    // No silent breakaway yet, or the child would be born outside: only a process started
    // with CREATE_BREAKAWAY_FROM_JOB leaves, and Kivo does not ask for that.
    return Limit(EndsWithLauncher | JOB_OBJECT_LIMIT_BREAKAWAY_OK) && assignToJob(ownJob, GetCurrentProcess());
}

void AdoptChild(HANDLE process)
{
    // Where Kivo's caller put it in a job that lets children leave, the child was born
    // outside every job and can join this one; otherwise it stays where it was born.
    if (Limit(Tied)) {
        assignToJob(ownJob, process);
    }
}

void TieChildToLauncher(bool tied)
{
    Limit(tied ? Tied : GrandchildrenLeave);
}
