#pragma once

#include <windows.h>

#include "platform/child_plan.h"

// What Kivo finds out about its console, and about its child's image, for its plan.

// Whether Kivo is attached to a console.
bool HaveConsole();

// How many processes Kivo's console has, Kivo among them: 0 where Kivo has none, or where
// Windows cannot count them (before XP). Asked before the start: Wine attaches even a GUI
// child to its parent's console.
DWORD ConsoleProcessCount();

// Asked where Kivo has no console: on Windows 11 24H2 and later, makes a console as Kivo's
// caller asked for one, notes whether it has a window, and lets it go again at once, Kivo's
// standard handles as they were. The result tells what the caller asked for.
ConsoleAllocation AllocateAsAsked(bool& window);

// The subsystem of the image that this process runs, read from its file's headers: 0 where
// they cannot be read, or where Windows cannot name the image (before Vista).
WORD ChildSubsystem(HANDLE process);
