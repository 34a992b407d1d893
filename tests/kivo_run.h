#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "host.h"

// The standard handles that a test's launcher gets from its caller.
enum class Handles {
    Pipes,        // pipes: standard input holds Input; output and error are captured
    StdoutToFile, // the same, but standard output is a file, whose content is captured
    OneForBoth,   // the same, but standard error is the very handle of standard output (a build
                  // tool's 2>&1, Python's stderr=STDOUT): Stdout captures both
    NotGiven,     // none in the startup record (no STARTF_USESTDHANDLES): its standard input
                  // field goes as Record has it (a hot key)
    OwnPipes,     // the pipes, as the test's own standard handles while it starts the program,
                  // and none in the record: as cmd redirects (prog > out.txt)
    Closed,       // all three null
    Invalid,      // all three INVALID_HANDLE_VALUE
    NoObject,     // all three a value that names no object
};

// How a test starts Kivo.exe, or another program in its place. Rows name what they set:
// RunKivo({.Operands = ..., .CreationFlags = DETACHED_PROCESS}). Every inheritable handle
// the test holds at the time is handed to the program, as a caller's would be.
struct KivoStart {
    std::string Operands = {};      // what follows the program's quoted path, through the ANSI API
    std::wstring WideOperands = {}; // when not empty, the operands instead, through the wide API
                                    // (as cmd.exe and PowerShell start programs)
    std::string Program = {};       // start this program instead of Kivo.exe, so as to compare
    std::string Directory = {};     // the program's current directory; empty: the test's own
    Handles StdHandles = Handles::Pipes;
    std::string Input = {};         // what standard input holds
    DWORD CreationFlags = 0;        // added to CREATE_SUSPENDED
    // The rest of the startup record: its flags, show state, place, size, character counts,
    // fill and title are taken as they are.
    STARTUPINFOA Record = {};
    // UI limits on the test's job around the program: Windows then nests no other job in
    // it, just as Windows 7 and earlier nest none at all.
    bool UiLimitedJob = false;
    double KillAfter = -1; // when not negative, end the program by force this many seconds
                           // after it began to run
    // Seconds the program may run, and then its output stay open, before the launch counts
    // as hung: the test program then says which launch hung, ends everything it started and
    // ends itself, failed. Far above what a launch takes on a busy machine.
    double Limit = 60;
};

// The status a launcher ended by force ends with.
const DWORD KilledStatus = 0x0BADF00D;

// What came of one run.
struct KivoRun {
    DWORD Status = 0;   // the program's exit status, or the reason the test could not start it
    std::string Stdout; // standard output, from the pipe or the file
    std::string Stderr;
    double Seconds = 0;  // from the start to the end of the wait
    DWORD Processes = 0; // processes ever in the test's job: the program and all it started
    // Processes of that job still there once the program had ended (with KillAfter: 5 s
    // after it); with KillAfter they are then ended. Under Wine, those that never got a
    // thread count apart (NeverStarted): Wine can end them no more.
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

// Starts the program (Kivo.exe unless told otherwise) and waits until it has ended, and its
// output with it, within the start's Limit.
KivoRun RunKivo(const KivoStart& start);

// The value of "key=" in a probe report, or "(missing)"; as a number, or 0.
std::string ReportValue(const std::string& report, const std::string& key);
DWORD ReportNumber(const std::string& report, const std::string& key);

// Runs action on another thread once the probe has set its ready event (its /ready
// directive), or not at all if the probe has not done so within 30 s; join the thread
// after the run.
std::thread OnProbeReady(std::function<void()> action);

// Why a row of a table does not run here, on one line; the rest of the table runs.
void SkipRow(const char* row, const char* reason);
