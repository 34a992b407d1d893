#pragma once

#include <windows.h>

// Where Windows made a console for Kivo alone (its caller had none, or asked for a new one)
// and the child is a GUI program, Kivo lets that console go before the child runs, so that
// its window does not stay open for the child's whole life, nor the child find it: started
// directly, a GUI program has no console at all.

// Whether Kivo is the only process on its console. Asked before the start: Wine attaches
// even a GUI child to its parent's console.
bool AloneOnConsole();

// Lets Kivo's console go if the child that this process runs is a GUI program.
void LeaveConsoleToGuiChild(HANDLE process);

// Whether Kivo is attached to a console.
bool HaveConsole();

// Asked where Kivo has no console: whether its caller asked for none (DETACHED_PROCESS).
// Windows 11 24H2 and later start Kivo without a console also where its caller gave no
// console flags at all (Kivo's manifest asks for that), and there a console child must get
// a console of its own, as it would started directly.
bool CallerAskedForNoConsole();
