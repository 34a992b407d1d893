#pragma once

#include <windows.h>

#include <string>

// Small facts about this program and its machine, shared by the tests and the benchmark.

// The folder that holds the running program, with its trailing separator: Kivo.exe and
// the helper programs are built beside it.
std::string ExeFolder();

// A span of time that Win32 counts in 100 ns units, in seconds.
double Seconds(const FILETIME& time);

// Processor time the whole machine has spent busy so far, all cores. Wine reports no
// other process's own times, so a launcher's cost shows as the machine's.
double MachineBusySeconds();

// A whole file, or empty when it cannot be read.
std::string ReadFileText(const std::string& path);
