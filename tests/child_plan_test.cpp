// Kivo decides how its child starts from what it finds, in one pure function: here it meets
// every Windows and every caller that takes a path of its own. Each row says what a direct
// start by that caller gives the child, and the documentation that makes it so; where Kivo
// departs on purpose, the row says why.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/child_plan.h"

namespace {

// What a Windows era lets Kivo find.
struct Era {
    const char* Name;
    bool HandleList;   // inheritance limited to a list: Vista and later
    bool Counts;       // a console's processes counted: XP and later
    bool RealConsole;  // console handles are real handles: 8 and later
    bool ImageName;    // a process's image named: Vista and later
};
const Era Nt4 = {"NT 4.0 and 2000", false, false, false, false};
const Era Xp = {"XP and Server 2003", false, true, false, false};
const Era Win7 = {"Vista and 7", true, true, false, true};
const Era Win10 = {"8 to 11 23H2", true, true, true, true};
const Era Win11 = {"11 24H2 and later", true, true, true, true};
const Era NoList = {"8 and later, no room for a list", false, true, true, true};

// Kivo's console: shared with its caller; made for it alone; none, and on 24H2 and later
// what AllocConsoleWithOptions made of the caller's request.
enum class Where { Shared, Alone, None, AskedNone, AskedNoWindow, AskedWindow, AskedExisting };

const DWORD Normal = NORMAL_PRIORITY_CLASS, High = HIGH_PRIORITY_CLASS, Held = CREATE_SUSPENDED,
            List = EXTENDED_STARTUPINFO_PRESENT, Detach = DETACHED_PROCESS, NoWindow = CREATE_NO_WINDOW;
const DWORD Named = STARTF_USESTDHANDLES, HotKey = STARTF_USEHOTKEY, Show = STARTF_USESHOWWINDOW;
const bool Job = true, NoJob = false, Gui = true, Cui = false;
const Inheritance None = Inheritance::None, Listed = Inheritance::Listed, All = Inheritance::All;

struct Row {
    const Era* Windows;
    Where Console;
    DWORD Record;        // the caller's record's flags
    const char* Handles; // in, out, err: c console, f a file or pipe, = the one before, - none, x invalid
    bool InJob;
    DWORD Priority;
    bool Gui; // the child
    // The plan:
    DWORD Flags;           // creation flags
    DWORD ChildRecord;     // the child's record's flags
    Inheritance Inherits;
    const char* Inherited; // which of in, out, err: i o e
    bool LetGo;            // Kivo lets its console go before the child runs
    const char* Why;
};

const Row Rows[] = {
    // At a prompt: the child shares the console. cmd inherits its handles (bInheritHandles), which from
    // Windows 8 on include the console's, real handles: so a GUI child gets them as its standard handles.
    {&Nt4, Where::Shared, 0, "ccc", Job, Normal, Cui, Normal | Held, 0, None, "", false, "console handles of NT pass on by the console's rules (Console Handles)"},
    {&Xp, Where::Shared, 0, "ccc", Job, Normal, Gui, Normal | Held, 0, None, "", false, "a shared console stays; console handles pass on by its rules"},
    {&Win7, Where::Shared, 0, "ccc", Job, Normal, Gui, Normal | Held, 0, None, "", false, "pseudo-handles, which no list may hold (Console Handles)"},
    {&Win10, Where::Shared, 0, "ccc", Job, Normal, Cui, Normal | Held | List, 0, Listed, "ioe", false, "console handles are real handles, which cmd's start inherits"},
    {&Win10, Where::Shared, Show, "ccc", Job, Normal, Gui, Normal | Held | List, Show, Listed, "ioe", false, "a GUI child of cmd inherits its console handles; the shared console stays"},
    {&Win11, Where::Shared, 0, "ccc", Job, High, Gui, High | Held | List, 0, Listed, "ioe", false, "the caller's priority, which a child gets only if asked (CreateProcess, dwCreationFlags)"},
    // cmd's prog > out.txt: cmd redirects its own handles and hands them on by inheritance.
    {&Nt4, Where::Shared, 0, "cfc", Job, Normal, Cui, Normal | Held, 0, All, "o", false, "no list: all that cmd let Kivo inherit, as cmd's own start hands on (Inheritance)"},
    {&Xp, Where::Shared, 0, "cf=", Job, Normal, Gui, Normal | Held, 0, All, "o", false, "a GUI child gets the file only by inheritance; 2>&1 is the same handle"},
    {&Win7, Where::Shared, 0, "cfc", Job, Normal, Gui, Normal | Held | List, 0, Listed, "o", false, "the file alone is listed: pseudo-handles never"},
    {&Win10, Where::Shared, 0, "fff", Job, Normal, Gui, Normal | Held | List, 0, Listed, "ioe", false, "type in.txt | prog 2> err.txt: all three"},
    {&Win10, Where::Shared, 0, "cfc", Job, Normal, Cui, Normal | Held | List, 0, Listed, "ioe", false, "the file and the console's handles"},
    // A build tool's or a script host's pipes, named in Kivo's record: the child's record names Kivo's.
    {&Nt4, Where::Shared, Named, "fff", Job, Normal, Cui, Normal | Held, Named, All, "ioe", false, "named handles must be inherited (STARTF_USESTDHANDLES)"},
    {&Win7, Where::Shared, Named, "ff=", Job, Normal, Cui, Normal | Held | List, Named, Listed, "io", false, "stderr=STDOUT: the same handle, listed once"},
    {&Win10, Where::Shared, Named, "f==", Job, Normal, Gui, Normal | Held | List, Named, Listed, "i", false, "one pipe for all three, listed once"},
    {&Win10, Where::Shared, Named, "xxx", Job, Normal, Cui, Normal | Held, Named, None, "", false, "named as the caller named them; nothing there to inherit"},
    {&Win10, Where::Shared, Named, "---", Job, Normal, Cui, Normal | Held, Named, None, "", false, "named empty, as the caller did"},
    {&NoList, Where::Shared, Named, "fff", Job, Normal, Cui, Normal | Held, Named, All, "ioe", false, "no list made: the record must not name handles the child lacks"},
    {&NoList, Where::Shared, 0, "ccc", Job, Normal, Cui, Normal | Held, 0, None, "", false, "no list made: the console's handles alone do not call for all of Kivo's"},
    // A hot key takes the record's field of standard input; Windows allows no handles beside it.
    {&Win10, Where::Shared, HotKey, "ccc", Job, Normal, Gui, Normal | Held | List, HotKey, Listed, "ioe", false, "the hot key passes on; the console's handles as at a prompt"},
    {&Win10, Where::None, HotKey, "---", Job, Normal, Cui, Normal | Held | Detach, HotKey, None, "", false, "no console, no handles: none beside a hot key (STARTUPINFO)"},
    {&Win10, Where::None, HotKey, "fff", Job, Normal, Cui, Normal | Held | Detach | List, HotKey, Listed, "ioe", false, "no console: none named beside a hot key, so the child gets none"},
    // No console, where the caller asked for none (DETACHED_PROCESS: detached spawns, services).
    {&Nt4, Where::None, Named, "fff", Job, Normal, Cui, Normal | Held | Detach, Named, All, "ioe", false, "a detached child gets handles only where its record names them"},
    {&Win10, Where::None, Named, "ff=", Job, Normal, Cui, Normal | Held | Detach | List, Named, Listed, "io", false, "named pipes, one of them twice"},
    {&Win10, Where::None, 0, "fff", Job, Normal, Cui, Normal | Held | Detach | List, Named, Listed, "ioe", false, "a Unix shell's handles under Wine: named, or Windows would hand the child none"},
    {&Win10, Where::None, 0, "---", Job, Normal, Gui, Normal | Held | Detach, 0, None, "", false, "a caller that gives Kivo no handles gives the child none"},
    {&NoList, Where::None, 0, "fff", Job, Normal, Cui, Normal | Held | Detach, Named, All, "ioe", false, "no list made: all of Kivo's, never a record naming handles the child lacks"},
    // A console made for Kivo alone: CREATE_NEW_CONSOLE, or a caller without one before 24H2 (Explorer).
    {&Win10, Where::Alone, 0, "ccc", Job, Normal, Cui, Normal | Held, 0, None, "", false, "a console child shares it and gets copies of its handles (Console Handles)"},
    {&Win10, Where::Alone, Show, "ccc", Job, Normal, Gui, Normal | Held, Show, None, "", true, "a GUI program started directly has no console, nor a handle that holds one open"},
    {&Win10, Where::Alone, Named, "fff", Job, Normal, Gui, Normal | Held | List, Named, Listed, "ioe", true, "named pipes with a new console; the console goes"},
    {&Win7, Where::Alone, 0, "ccc", Job, Normal, Gui, Normal | Held, 0, None, "", true, "Vista names the started image (QueryFullProcessImageName)"},
    {&Xp, Where::Alone, 0, "ccc", Job, Normal, Gui, Normal | Held, 0, None, "", false, "kept: XP cannot name the started image, so the console stays"},
    {&Nt4, Where::Alone, 0, "ccc", Job, Normal, Gui, Normal | Held, 0, None, "", false, "kept: NT 4.0 cannot count the console's processes, so the console stays"},
    // Windows 11 24H2 starts Kivo without a console whatever its caller asked: asking as it did tells what.
    {&Win11, Where::AskedNone, 0, "---", Job, Normal, Cui, Normal | Held | Detach, 0, None, "", false, "asked for none (DETACHED_PROCESS)"},
    {&Win11, Where::AskedNone, Named, "fff", Job, Normal, Cui, Normal | Held | Detach | List, Named, Listed, "ioe", false, "asked for none, pipes named"},
    {&Win11, Where::AskedNoWindow, 0, "---", Job, Normal, Cui, Normal | Held | NoWindow, 0, None, "", false, "asked for a console without a window (CREATE_NO_WINDOW)"},
    {&Win11, Where::AskedNoWindow, 0, "fff", Job, Normal, Gui, Normal | Held | NoWindow | List, 0, Listed, "ioe", false, "a GUI child gets the caller's redirected handles"},
    {&Win11, Where::AskedWindow, Show, "---", Job, Normal, Cui, Normal | Held, Show, None, "", false, "asked for a console: Windows makes the child one, shown as the record says"},
    {&Win11, Where::AskedExisting, 0, "---", Job, Normal, Cui, Normal | Held, 0, None, "", false, "Kivo is on a console after all: the child shares it"},
    // Outside a job of Kivo's (before 2000, or in a caller's job with UI limits, which no job nests in).
    {&Win10, Where::Shared, 0, "ccc", NoJob, Normal, Cui, Normal | List, 0, Listed, "ioe", false, "kept: the child runs at once, and outlives a forced end of Kivo"},
    {&Nt4, Where::Alone, 0, "ccc", NoJob, Normal, Gui, Normal, 0, None, "", false, "no jobs before 2000"},
};

// The handle of one letter of a row at one place, and its kind: console handles as the era
// makes them, every other handle distinct.
void HandleOf(const char* handles, int index, const Era& era, HANDLE& handle, StdKind& kind)
{
    switch (handles[index]) {
    case 'c':
        handle = reinterpret_cast<HANDLE>(era.RealConsole ? 0x40 + 4 * index : 3 + 4 * index);
        kind = era.RealConsole ? StdKind::Console : StdKind::ConsolePseudo;
        break;
    case 'f':
        handle = reinterpret_cast<HANDLE>(0x100 + 4 * index);
        kind = StdKind::Redirected;
        break;
    case '=':
        HandleOf(handles, index - 1, era, handle, kind);
        break;
    case 'x':
        handle = INVALID_HANDLE_VALUE;
        kind = StdKind::Invalid;
        break;
    default:
        handle = nullptr;
        kind = StdKind::Missing;
    }
}

StartFacts FactsOf(const Row& row)
{
    StartFacts facts = {};
    facts.HandleList = row.Windows->HandleList;
    facts.Console = row.Console == Where::Shared || row.Console == Where::Alone;
    facts.ConsoleProcesses = !row.Windows->Counts || !facts.Console ? 0 : row.Console == Where::Alone ? 1 : 3;
    facts.Allocation = row.Console == Where::AskedNone       ? AllocationNone
                       : row.Console == Where::AskedNoWindow ? AllocationNew
                       : row.Console == Where::AskedWindow   ? AllocationNew
                       : row.Console == Where::AskedExisting ? AllocationExisting
                                                             : AllocationUntold;
    facts.AllocatedWindow = row.Console == Where::AskedWindow;
    facts.RecordFlags = row.Record;
    for (int index = 0; index < 3; ++index) {
        HandleOf(row.Handles, index, *row.Windows, facts.Std[index], facts.Kinds[index]);
    }
    facts.Priority = row.Priority;
    facts.InOwnJob = row.InJob;
    return facts;
}

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
    return text;
}

} // namespace

TEST(StartPlan, EachCallerOnEachWindowsGetsWhatADirectStartGives)
{
    for (const Row& row : Rows) {
        SCOPED_TRACE(std::string(row.Windows->Name) + ", " + row.Handles + ", " + (row.Gui ? "GUI" : "console") +
                     " child: " + row.Why);
        const StartFacts facts = FactsOf(row);
        const StartPlan plan = PlanStart(facts);
        EXPECT_EQ(Hex(plan.CreationFlags), Hex(row.Flags)) << "creation flags";
        EXPECT_EQ(Hex(plan.RecordFlags), Hex(row.ChildRecord)) << "the child's record's flags";
        EXPECT_EQ(static_cast<int>(plan.Inherits), static_cast<int>(row.Inherits)) << "inheritance";
        std::string inherited;
        for (DWORD listed = 0; listed < plan.InheritedCount; ++listed) {
            for (int index = 0; index < 3; ++index) {
                if (plan.Inherited[listed] == facts.Std[index] && inherited.find("ioe"[index]) == std::string::npos) {
                    inherited += "ioe"[index];
                    break;
                }
            }
        }
        EXPECT_EQ(inherited, row.Inherited) << "the handles inherited";
        EXPECT_EQ(plan.InheritedCount, std::string(row.Inherited).size()) << "each handle once";
        const WORD subsystem = !row.Windows->ImageName ? 0 : row.Gui ? IMAGE_SUBSYSTEM_WINDOWS_GUI : IMAGE_SUBSYSTEM_WINDOWS_CUI;
        EXPECT_EQ(LetsConsoleGo(plan, subsystem), row.LetGo) << "the console let go";
    }
}

// Each console event as the child meets it without Kivo (HandlerRoutine).
TEST(StartPlan, EachConsoleEventReachesTheChildAsWithoutTheLauncher)
{
    struct EventRow {
        DWORD Event;
        bool Handled, ReleaseChild;
        const char* Why;
    } rows[] = {
        {CTRL_C_EVENT, true, false, "the child decides; Kivo stays until it has ended"},
        {CTRL_BREAK_EVENT, true, false, "the same as Ctrl+C"},
        {CTRL_CLOSE_EVENT, true, true, "Windows ends every process on the console within seconds: the child keeps its own"},
        {CTRL_SHUTDOWN_EVENT, true, true, "a service's console process is ended at shut-down, its child too"},
        {CTRL_LOGOFF_EVENT, true, false, "only a service's process gets it, at any user's log-off, and lives on"},
        {7, false, false, "an event of a newer Windows: the next handler knows it"},
    };
    for (const EventRow& row : rows) {
        SCOPED_TRACE(row.Why);
        const EventAnswer answer = AnswerTo(row.Event);
        EXPECT_EQ(answer.Handled, row.Handled) << "event " << row.Event;
        EXPECT_EQ(answer.ReleaseChild, row.ReleaseChild) << "event " << row.Event;
    }
}
