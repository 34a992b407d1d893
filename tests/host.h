#pragma once

#include <windows.h>

#include <string>

// Small facts about this program and its machine, shared by the tests and the benchmark.

// The folder that holds the running program, with its trailing separator: Kivo.exe and
// the helper programs are built beside it.
std::string ExeFolder();

// A span of time that Win32 counts in 100 ns units, in seconds.
double Seconds(const FILETIME& time);

// Processor use of all threads of the process with this id so far: their kernel and user
// time, which Windows and Wine count in clock ticks, and their cycles, which Windows counts
// exactly and Wine not at all (0). Per thread, because for another process Wine reports
// the caller's own times as the process's.
struct ProcessorUse {
    double Seconds;
    ULONG64 Cycles;
    DWORD Threads = 0; // how many threads the process has now
};
ProcessorUse ProcessorUseOf(DWORD id);
bool CyclesCounted(); // whether this platform counts a thread's cycles

// A whole file, or empty when it cannot be read.
std::string ReadFileText(const std::string& path);
