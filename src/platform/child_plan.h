#pragma once

#include <windows.h>

// What Kivo decides, from what it found out, about how its child starts and how a console
// event reaches it. Pure functions: the same facts always give the same plan, so that every
// Windows and every caller can be tried without running on it.

// What one of Kivo's standard handles is.
enum class StdKind : unsigned char {
    Missing,       // null
    Invalid,       // INVALID_HANDLE_VALUE, or a value that names no handle of Kivo's
    ConsolePseudo, // a console handle of Windows before 8: no real handle, the console passes it on
    Console,       // a handle of the console Kivo is on, a real one (Windows 8 and later)
    Redirected,    // a file, a pipe, a device: anything but a console
};

// What Windows 11 24H2 and later did when Kivo, started without a console, asked for one as
// its caller had asked (AllocConsoleWithOptions with ALLOC_CONSOLE_MODE_DEFAULT): the call's
// ALLOC_CONSOLE_RESULT.
enum ConsoleAllocation : int {
    AllocationUntold = -1,  // an earlier Windows, which has no such call, or the call failed
    AllocationNone = 0,     // ALLOC_CONSOLE_RESULT_NO_CONSOLE: the caller asked for none
    AllocationNew = 1,      // ALLOC_CONSOLE_RESULT_NEW_CONSOLE: it asked for one
    AllocationExisting = 2, // ALLOC_CONSOLE_RESULT_EXISTING_CONSOLE: Kivo is on one after all
};

struct StartFacts {
    bool HandleList;        // inheritance can be limited to a list (Vista and later), and the list was made
    bool Console;           // Kivo is on a console
    DWORD ConsoleProcesses; // the processes on it; 0 where Windows cannot count them (before XP)
    ConsoleAllocation Allocation; // asked only where Kivo has no console
    bool AllocatedWindow;         // the console made so has a window (GetConsoleWindow)
    DWORD RecordFlags;      // the startup record's flags that the caller gave Kivo
    HANDLE Std[3];          // Kivo's standard input, output and error
    StdKind Kinds[3];
    DWORD Priority; // Kivo's priority class
    bool InOwnJob;  // Kivo is in a job of its own, which the child is born into
};

// Which of Kivo's handles the child inherits.
enum class Inheritance : unsigned char {
    None,
    Listed, // those of Inherited alone
    All,    // every inheritable one: where Windows keeps no list, as a direct start hands them on
};

struct StartPlan {
    DWORD CreationFlags;
    DWORD RecordFlags;   // the child's startup record's flags; STARTF_USESTDHANDLES names Kivo's handles
    Inheritance Inherits;
    HANDLE Inherited[3]; // each once; made inheritable before the start
    DWORD InheritedCount;
    bool LeaveToGui;     // Kivo's console was made for it alone: a GUI child must not find it
};

StartPlan PlanStart(const StartFacts& facts);

// Whether Kivo lets its console go before the child runs, once the child's image is known:
// its subsystem, 0 where Windows cannot tell it (before Vista).
bool LetsConsoleGo(const StartPlan& plan, WORD childSubsystem);

// What a console event means to Kivo while its child runs.
struct EventAnswer {
    bool Handled;      // Kivo stays; otherwise the next handler decides
    bool ReleaseChild; // Windows ends Kivo soon: the child meets its own end, not the job's
};
EventAnswer AnswerTo(DWORD event);
