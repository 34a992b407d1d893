#pragma once

#include <windows.h>

// Kivo and its child share a job of Kivo's own that ends the child whenever Kivo ends,
// however that happens. Processes that the child starts in turn leave it and run on, just
// as they would had Kivo's caller started the child itself.
//
// The job's limits follow from three facts, each set by one call below, and are set in one
// place under one lock: the main thread and the console event handler never undo each
// other's, whatever the order they come in.

// Joins a new job before the start, so that the child is born in it and no moment of
// Kivo's end can leave the child outside. Returns whether Kivo is in it: Windows before
// 2000 has no jobs, and Windows 7 and earlier put no process in a second job.
bool JoinOwnJob();

// The child has been started: whatever it starts from then on leaves the job. Where it was
// not born in the job (Kivo could not join it), it is put in now, where Windows lets it.
void ChildStarted(HANDLE process, bool bornInJob);

// Whether Kivo lets the child out of the job's reach, so that Kivo's end does not end it
// (a console event is under way), or takes it back.
void ReleaseChild(bool released);

// The child has ended: the job has nothing left to end when Kivo ends.
void ChildEnded();
