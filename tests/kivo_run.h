#pragma once

#include <windows.h>

#include <string>

// How a test starts Kivo.exe. Every inheritable handle the test holds at the time is
// handed to the launcher, as a caller's would be.
struct KivoStart {
    std::string Operands;   // what follows the launcher's quoted path on its command line
    std::string Directory;  // the launcher's current directory; empty: the test's own
    std::string StdoutFile; // send stdout to this file instead of a pipe
};

// What came of one run.
struct KivoRun {
    DWORD Status = 0;
    std::string Stdout; // empty when it went to a file
    std::string Stderr;
    double Seconds = 0;    // from the start to the end of the wait
    double BusySeconds = 0; // processor time the machine spent busy meanwhile, all cores
    DWORD Processes = 0;   // processes ever in the launcher's job, the launcher included
};

std::string KivoPath();
std::string ProbePath();
std::string TempPath(const std::string& name); // a path in the temp folder, nothing there yet
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);

// Starts Kivo.exe and waits until it has ended.
KivoRun RunKivo(const KivoStart& start);

// The value of "key=" in a probe report, or "(missing)".
std::string ReportValue(const std::string& report, const std::string& key);
