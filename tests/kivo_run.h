#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "host.h"

// How a test starts Kivo.exe, or another program in its place. Every inheritable handle
// the test holds at the time is handed to it, as a caller's would be.
struct KivoStart {
    std::string Operands;   // what follows the program's quoted path on its command line
    std::string Directory;  // the launcher's current directory; empty: the test's own
    std::string StdoutFile; // send stdout to this file instead of a pipe
    // Give the launcher these as all three standard handles instead of pipes (nothing is
    // then captured): null for closed ones, INVALID_HANDLE_VALUE or any bad value.
    bool OddStdHandles = false;
    HANDLE StdHandles = nullptr;
    DWORD CreationFlags = 0; // added to the launcher's creation flags
    // The rest of the launcher's startup record: its flags are added to
    // STARTF_USESTDHANDLES, and its show state, place, size, character counts, fill and
    // title are taken as they are. Without standard handles, the record has no
    // STARTF_USESTDHANDLES and none of the pipes, and its standard input field (a hot key)
    // is taken as it is.
    STARTUPINFOA Record = {};
    bool NoStdHandles = false;
    // UI limits on the job the test runs the launcher in. Windows then nests no other job
    // in it, just as Windows 7 and earlier nest none at all.
    bool UiLimitedJob = false;
    // When not empty, the operands instead, given through the wide API as cmd.exe and
    // PowerShell do.
    std::wstring WideOperands = {};
    std::string Input = {};   // what the launcher's standard input, a pipe, holds
    std::string Program = {}; // start this program instead of Kivo.exe, so as to compare
    // When not negative, end the launcher by force this many seconds after it began to run.
    double KillAfter = -1;
};

// The status a launcher ended by force ends with.
const DWORD KilledStatus = 0x0BADF00D;

// What came of one run.
struct KivoRun {
    DWORD Status = 0;
    std::string Stdout; // empty when it went to a file
    std::string Stderr;
    double Seconds = 0;  // from the start to the end of the wait
    DWORD Processes = 0; // processes ever in the launcher's job, the launcher included
    // With KillAfter: processes of the launcher's job, running or not, that were still
    // there 5 s after the launcher had ended; they are then ended. Under Wine, those that
    // never got a thread count apart (NeverStarted): Wine can end them no more.
    DWORD LeftBehind = 0;
    DWORD NeverStarted = 0;
};

std::string Quoted(const std::string& text);
bool SamePath(const std::string& a, const std::string& b);
bool SamePath(const std::wstring& a, const std::wstring& b);
bool UnderWine();

// The id of the process that started the process with this id, or 0.
DWORD ParentOf(DWORD id);

std::string KivoPath();
std::string ProbePath();
std::string GuiProbePath(); // the probe as a GUI program
std::string TempPath(const std::string& name); // a path in the temp folder, nothing there yet
bool WriteFileText(const std::string& path, const std::string& text);
std::wstring Widen(const std::string& text, UINT codePage = CP_ACP);
std::string Utf16Hex(const std::wstring& text); // as the probe reports wide text, unit for unit

// Names a fresh file for the probe's report, through the environment that the launcher
// and its child inherit; the file stays missing when no probe runs.
std::string FreshReport();

// Starts Kivo.exe and waits until it has ended.
KivoRun RunKivo(const KivoStart& start);

// The value of "key=" in a probe report, or "(missing)"; as a number, or 0.
std::string ReportValue(const std::string& report, const std::string& key);
DWORD ReportNumber(const std::string& report, const std::string& key);

// Runs action on another thread once the probe has set its ready event (its /ready
// directive); join the thread after the run.
std::thread OnProbeReady(std::function<void()> action);
