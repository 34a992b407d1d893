#include "platform/child_plan.h"

// Where Kivo has no console, the creation flags that give a console child the console that
// Kivo's caller asked for, as a direct start by the caller would. Before Windows 11 24H2 Kivo
// lacks one only where its caller asked for none. From 24H2 on, Kivo's manifest has Windows
// start it without one whatever the caller asked, and asking for one as the caller did tells
// what that was: none; a console without a window, which has none for GetConsoleWindow to
// name (CREATE_NO_WINDOW); or one with a window, which Windows then makes for the child.
static DWORD ConsoleFlags(const StartFacts& facts)
{
    if (facts.Console) {
        return 0; // the child shares it
    }
    switch (facts.Allocation) {
    case AllocationNew:
        return facts.AllocatedWindow ? 0 : CREATE_NO_WINDOW;
    case AllocationExisting:
        return 0;
    default:
        return DETACHED_PROCESS;
    }
}

// Lists the standard handles of the kinds that the child inherits, each once (as with 2>&1).
static void ListInherited(const StartFacts& facts, bool redirected, bool console, StartPlan& plan)
{
    for (int index = 0; index < 3; ++index) {
        HANDLE handle = facts.Std[index];
        bool wanted = facts.Kinds[index] == StdKind::Redirected ? redirected
                                                                : facts.Kinds[index] == StdKind::Console && console;
        for (DWORD listed = 0; listed < plan.InheritedCount; ++listed) {
            wanted = wanted && plan.Inherited[listed] != handle;
        }
        if (wanted) {
            plan.Inherited[plan.InheritedCount++] = handle;
        }
    }
}

StartPlan PlanStart(const StartFacts& facts)
{
    StartPlan plan = {};
    const DWORD consoleFlags = ConsoleFlags(facts);
    const bool named = (facts.RecordFlags & STARTF_USESTDHANDLES) != 0;
    const bool detached = (consoleFlags & DETACHED_PROCESS) != 0;
    // A hot key takes the record's field of standard input: no handles can be named beside
    // it (STARTUPINFO), so a child without a console then gets none.
    const bool hotKey = (facts.RecordFlags & STARTF_USEHOTKEY) != 0;
    const bool alone = facts.Console && facts.ConsoleProcesses == 1;
    bool redirected = false;
    for (const StdKind kind : facts.Kinds) {
        redirected = redirected || kind == StdKind::Redirected;
    }
    // Where these hold, our standard handles reach the child only if it inherits them, as
    // they would reach it from our caller, which let us inherit them (CreateProcess,
    // bInheritHandles): the caller named them in our record; the child starts without a
    // console, and Windows hands it none then unless its record names them; one of them is
    // no console's, and only a console child would get a copy of it without inheriting it.
    const bool passOn = named || detached || redirected;
    // A console's own handles, real ones from Windows 8 on, go with them where named. And on
    // a console shared with our caller, as its direct start inherits them (cmd's does), so
    // that a GUI child gets them too. Never those of a console made for us alone, which a GUI
    // child would hold open.
    ListInherited(facts, passOn, named || (facts.Console && !alone), plan);
    const bool nameStd = named || (detached && !hotKey && plan.InheritedCount > 0);
    if (plan.InheritedCount == 0) {
        plan.Inherits = Inheritance::None;
    } else if (facts.HandleList) {
        plan.Inherits = Inheritance::Listed;
    } else if (passOn) {
        // No list: the child inherits all that our caller let us inherit, as its direct start
        // would, rather than lose the handles the record names or the child writes to.
        plan.Inherits = Inheritance::All;
    } else {
        plan.InheritedCount = 0; // a console's handles alone are not worth all of ours
    }
    plan.RecordFlags = facts.RecordFlags | (nameStd ? STARTF_USESTDHANDLES : 0);
    // Windows starts a child at normal priority unless asked for another (only idle and
    // below normal pass on by themselves): ours is the one our caller chose.
    plan.CreationFlags = facts.Priority | consoleFlags;
    // Born in our job, the child waits until the job lets its own children go.
    plan.CreationFlags |= facts.InOwnJob ? CREATE_SUSPENDED : 0;
    plan.CreationFlags |= plan.Inherits == Inheritance::Listed ? EXTENDED_STARTUPINFO_PRESENT : 0;
    plan.LeaveToGui = alone;
    return plan;
}

bool LetsConsoleGo(const StartPlan& plan, WORD childSubsystem)
{
    // Started directly, a GUI program has no console at all: a window of a console made for
    // us alone would stay open for its whole life, and it would find that console.
    return plan.LeaveToGui && childSubsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

EventAnswer AnswerTo(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // They reach every process on the console; the child decides what they mean, and we
        // stay until it has ended, so that our caller never resumes while it still runs.
        return {true, false};
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends every process that gets them within seconds: the child must meet that
        // end as it would without us, not the job's (HandlerRoutine).
        return {true, true};
    case CTRL_LOGOFF_EVENT:
        // Only a service's console process gets it, at any user's log-off, and it lives on
        // (HandlerRoutine): so do we, with the child in our job.
        return {true, false};
    default:
        return {false, false}; // an event of a newer Windows: the next handler knows it
    }
}
