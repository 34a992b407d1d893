#pragma once

#include <windows.h>

// The address of a KERNEL32 function, or null where the running Windows lacks it.
FARPROC Kernel32Procedure(const char* name);

// A KERNEL32 function that Windows 4.0 lacks, found at run time so that Kivo still loads
// there: null where the running Windows does not have it.
template <typename Function>
Function Kernel32Function(const char* name)
{
    // Through void (*)(), which converts to every function type without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(Kernel32Procedure(name)));
}
