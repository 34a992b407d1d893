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

// Asked where Kivo has no console: the creation flags that give a console child the console
// that Kivo's caller asked for. DETACHED_PROCESS where it asked for none; on Windows 11 24H2
// and later, which start Kivo without a console also where its caller asked for one (Kivo's
// manifest asks for that), CREATE_NO_WINDOW where it asked for a console without a window,
// and none where it asked for a console with one, which Windows then makes for the child.
DWORD CallersConsoleFlags();
