#include "platform/child_job.h"

// The job functions came with Windows 2000. Found at run time, they keep Kivo loading on
// Windows 4.0, where it runs its child without a job.
template <typename Function>
static Function Find(HMODULE kernel, const char* name)
{
    // Through void (*)(), which converts to every function type without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

HANDLE EncloseInJob(HANDLE process)
{
    const HMODULE kernel = GetModuleHandleA("kernel32");
    const auto createJob = Find<decltype(&CreateJobObjectA)>(kernel, "CreateJobObjectA");
    const auto limitJob = Find<decltype(&SetInformationJobObject)>(kernel, "SetInformationJobObject");
    const auto assignToJob = Find<decltype(&AssignProcessToJobObject)>(kernel, "AssignProcessToJobObject");
    if (!createJob || !limitJob || !assignToJob) {
        return nullptr;
    }
    HANDLE job = createJob(nullptr, nullptr);
    if (!job) {
        return nullptr;
    }
    // Ended with our last handle to it. Whatever the child starts leaves the job silently:
    // it runs on after the child, just as it would had our caller started the child itself.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    // Windows 7 and earlier refuse a second job to a child that already sits in one (ours
    // does when our caller put us in a job): the child then runs without ours.
    if (!limitJob(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) || !assignToJob(job, process)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}
