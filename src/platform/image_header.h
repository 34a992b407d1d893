#pragma once

#include <windows.h>

#include <cstddef>

// The subsystem that a program image's headers name (IMAGE_SUBSYSTEM_WINDOWS_GUI, ...),
// read from the first size bytes of its file; 0 where those bytes do not hold the headers
// of a 32-bit or 64-bit image as far as the subsystem. Reads nothing beyond them.
WORD ImageSubsystem(const BYTE* bytes, size_t size);
