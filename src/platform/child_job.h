#pragma once

#include <windows.h>

// Kivo and its child share a job of Kivo's own that ends the child whenever Kivo ends,
// however that happens. Processes that the child starts in turn leave it and run on, just
// as they would had Kivo's caller started the child itself.

// Joins a new job before the start, so that the child is born in it and no moment of
// Kivo's end can leave the child outside. Returns whether Kivo is in it: Windows before
// 2000 has no jobs, and Windows 7 and earlier put no process in a second job.
bool JoinOwnJob();

// Where Kivo could not join its job: puts the started child into it instead, where Windows
// lets it. The child runs outside for the moment until then.
void AdoptChild(HANDLE process);

// Whether the job ends what is in it when Kivo ends (it does from the start). Either way,
// whatever the child starts from then on leaves the job: right after a start inside the
// job, tying the child lets its own children go.
void TieChildToLauncher(bool tied);
