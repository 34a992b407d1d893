#pragma once

#include <windows.h>

// A KERNEL32 function that Windows 4.0 lacks, found at run time so that Kivo still loads
// there: null where the running Windows does not have it.
template <typename Function>
Function Kernel32Function(const char* name)
{
    // Through void (*)(), which converts to every function type without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32"), name)));
}
