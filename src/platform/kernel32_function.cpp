#include "platform/kernel32_function.h"

FARPROC Kernel32Procedure(const char* name)
{
    return GetProcAddress(GetModuleHandleA("kernel32"), name);
}
