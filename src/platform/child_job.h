#pragma once

#include <windows.h>

// Puts a started child into a job of its own that ends it once our last handle to the job
// closes, so that the child cannot outlive the launcher however the launcher ends. The
// processes the child starts in turn stay out of the job. Returns the job, to be closed
// after the child's own handles, or null where Windows gave no job: the child then runs
// as it would without one.
HANDLE EncloseInJob(HANDLE process);
