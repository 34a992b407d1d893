#pragma once

#include <windows.h>

// Where Windows made a console for Kivo alone (its caller had none, or asked for a new one)
// and the child is a GUI program, Kivo lets that console go once the child runs, so that
// its window does not stay open for the child's whole life: started directly, a GUI
// program has no console at all.

// Whether Kivo is the only process on its console. Asked before the start: Wine attaches
// even a GUI child to its parent's console.
bool AloneOnConsole();

// Lets Kivo's console go if the child that this process runs is a GUI program.
void LeaveConsoleToGuiChild(HANDLE process);
