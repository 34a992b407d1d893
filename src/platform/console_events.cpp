#include "platform/console_events.h"

#include <windows.h>

#include "platform/child_job.h"

// Longer than the platform waits before it ends a program that has not ended by itself
// after one of these events: 5 s after a console close or a log-off, 20 s at a shut-down
// for services (its documented defaults).
static const DWORD PlatformEndsUsWithin = 60000;

// Ctrl+C and Ctrl+Break reach every process on the console. The child decides what they
// mean; we stay until it has ended, so our caller never resumes while the child still
// owns the console. Unlike ignoring interrupts through a null handler, a handler of our
// own is not passed on to the child.
//
// Closing the console, logging off and shutting down reach every process too, and the
// platform ends each after a few seconds. The child must meet that end as it would without
// us: a console child has its own event and seconds, while a GUI or detached child gets no
// event and runs on. So the job lets the child go, and we stay: the main thread ends us
// with the child's status once it has ended, or the platform ends us. Still here long
// after, we were not meant to end (a log-off reaches services, which live on): the job
// takes the child back, so that ending us by force still ends it.
//
// Wine delivers none of these three events: this follows the HandlerRoutine documentation.
static BOOL WINAPI OutlastConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        ReleaseChild(true);
        Sleep(PlatformEndsUsWithin);
        ReleaseChild(false);
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE; // an event of a newer Windows: the next handler knows it
    }
}

void OutlastConsoleEvents()
{
    SetConsoleCtrlHandler(OutlastConsoleEvent, TRUE);
    // At log-off and shut-down Windows ends interactive programs without an event (only
    // services get one, the HandlerRoutine page says), from the highest shutdown level to
    // the lowest (SetProcessShutdownParameters; every process starts at 0x280, and Windows
    // NT 3.1 and later have the call). At the lowest level for applications we are ended
    // after our child, which meets its own end of session first, as it would without us:
    // ended before it, we would have our job end it. With the child gone we have nothing to
    // save, so Windows need not ask the user about us.
    SetProcessShutdownParameters(0x100, SHUTDOWN_NORETRY);
}
