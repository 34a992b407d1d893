#include "platform/console_events.h"

#include <windows.h>

#include "platform/child_job.h"
#include "platform/child_plan.h"

// Longer than the platform waits before it ends a program that has not ended by itself
// after an event that ends it: 5 s after a console close, 20 s at a shut-down for services
// (its documented defaults).
static const DWORD PlatformEndsUsWithin = 60000;

// The child meets each console event as it would without us (AnswerTo says how). Where
// Windows ends us soon, the job lets the child go, and we stay: the main thread ends us with
// the child's status once it has ended, or the platform ends us. Still here long after, we
// were not meant to end: the job takes the child back, so that ending us by force still
// ends it. Unlike ignoring interrupts through a null handler, a handler of our own is not
// passed on to the child.
//
// Wine delivers no close, log-off or shut-down event: this follows the HandlerRoutine
// documentation.
static BOOL WINAPI OutlastConsoleEvent(DWORD event)
{
    const EventAnswer answer = AnswerTo(event);
    if (answer.ReleaseChild) {
        ReleaseChild(true);
        Sleep(PlatformEndsUsWithin);
        ReleaseChild(false);
        Sleep(INFINITE);
    }
    return answer.Handled;
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
