#include "kivo_run.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool SamePath(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }
bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

DWORD ParentOf(DWORD id)
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && parent == 0; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == id) {
            parent = entry.th32ParentProcessID;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

std::string KivoPath() { return ExeFolder() + "Kivo.exe"; }
std::string ProbePath() { return ExeFolder() + "KivoProbe.exe"; }
std::string GuiProbePath() { return ExeFolder() + "KivoGuiProbe.exe"; }

std::string TempPath(const std::string& name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "kivo-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    DeleteFileA(path.c_str());
    return path;
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    const bool whole = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && whole;
}

std::wstring Widen(const std::string& text, UINT codePage)
{
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(length));
    return wide;
}

std::string Utf16Hex(const std::wstring& text)
{
    std::string hex;
    char unit[5];
    for (const wchar_t character : text) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(character));
        hex += unit;
    }
    return hex;
}

std::string FreshReport()
{
    const std::string report = TempPath("report.txt");
    SetEnvironmentVariableA("KIVO_PROBE_OUT", report.c_str());
    return report;
}

// Everything a pipe delivers until its last writer has closed it; closes the pipe.
static void ReadAll(HANDLE pipe, std::string& text)
{
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(pipe);
}

// The launcher's startup record, in the ANSI or the wide form: they differ only in texts,
// and the wide title is the caller's to keep.
template <typename Record>
static Record StartupRecord(const KivoStart& start, HANDLE in, HANDLE out, HANDLE err)
{
    Record startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = start.Record.dwFlags;
    startup.wShowWindow = start.Record.wShowWindow;
    startup.dwX = start.Record.dwX;
    startup.dwY = start.Record.dwY;
    startup.dwXSize = start.Record.dwXSize;
    startup.dwYSize = start.Record.dwYSize;
    startup.dwXCountChars = start.Record.dwXCountChars;
    startup.dwYCountChars = start.Record.dwYCountChars;
    startup.dwFillAttribute = start.Record.dwFillAttribute;
    startup.hStdInput = start.Record.hStdInput; // or a hot key
    switch (start.StdHandles) {
    case Handles::NotGiven:
    case Handles::OwnPipes:
        return startup;
    case Handles::Pipes:
    case Handles::StdoutToFile:
    case Handles::OneForBoth:
    case Handles::Closed: // no pipes were made: all three are null
        break;
    case Handles::Invalid:
        in = out = err = INVALID_HANDLE_VALUE;
        break;
    case Handles::NoObject:
        in = out = err = reinterpret_cast<HANDLE>(0x7FF0);
        break;
    }
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    startup.dwFlags |= STARTF_USESTDHANDLES;
    return startup;
}

// Starts the program suspended, handing it every inheritable handle, through the ANSI API
// or, given wide operands, through the wide one.
static BOOL StartSuspended(const KivoStart& start, HANDLE in, HANDLE out, HANDLE err, PROCESS_INFORMATION& kivo)
{
    const DWORD flags = CREATE_SUSPENDED | start.CreationFlags;
    const std::string program = Quoted(start.Program.empty() ? KivoPath() : start.Program);
    if (start.WideOperands.empty()) {
        STARTUPINFOA startup = StartupRecord<STARTUPINFOA>(start, in, out, err);
        startup.lpTitle = start.Record.lpTitle;
        std::string commandLine = program + " " + start.Operands;
        return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr,
                              start.Directory.empty() ? nullptr : start.Directory.c_str(), &startup, &kivo);
    }
    STARTUPINFOW startup = StartupRecord<STARTUPINFOW>(start, in, out, err);
    std::wstring title = start.Record.lpTitle ? Widen(start.Record.lpTitle) : std::wstring();
    startup.lpTitle = start.Record.lpTitle ? &title[0] : nullptr;
    std::wstring commandLine = Widen(program) + L" " + start.WideOperands;
    const std::wstring directory = Widen(start.Directory);
    return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr,
                          start.Directory.empty() ? nullptr : directory.c_str(), &startup, &kivo);
}

static double Elapsed(const LARGE_INTEGER& since)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - since.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static DWORD WINAPI RunWork(LPVOID work)
{
    (*static_cast<std::function<void()>*>(work))();
    return 0;
}

// A thread whose end can be waited for within a limit: work runs on it, and must outlive it.
static HANDLE Spawn(std::function<void()>& work)
{
    const HANDLE thread = CreateThread(nullptr, 0, RunWork, &work, 0, nullptr);
    EXPECT_NE(thread, nullptr) << "CreateThread failed with " << GetLastError();
    return thread;
}

// A short name for a launch in a failure: its program and the start of its operands.
static std::string LaunchName(const KivoStart& start)
{
    std::string operands = start.WideOperands.empty() ? start.Operands : "(wide) " + Utf16Hex(start.WideOperands);
    if (operands.size() > 160) {
        operands = operands.substr(0, 160) + "...";
    }
    const std::string program = start.Program.empty() ? "Kivo.exe" : start.Program;
    return "'" + program + (operands.empty() ? "" : " " + operands) + "'";
}

// A launch that never ends leaves nothing to trust after it: the test program says which
// launch hung and what for, ends everything the launch started (the job holds it all),
// and ends itself, failed, instead of waiting for ctest's limit.
[[noreturn]] static void Hung(const std::string& name, const char* what, double limit, HANDLE job)
{
    TerminateJobObject(job, KilledStatus);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "\n[  FAILED  ] %s.%s: the launch %s hung: %s within %.0f s; it was ended, and so is this run\n",
                 test ? test->test_suite_name() : "?", test ? test->name() : "?", name.c_str(), what, limit);
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(1);
}

// The processes still in the job. Under Wine, a launcher ended inside Wine's own process
// creation can leave a child that never got a thread and that nothing can end (seen under
// Wine 8, about once in 1500 kills); those are counted apart. Windows creates a process and
// its first thread in one call, so none can be threadless there.
static DWORD StillInJob(HANDLE job, DWORD& threadless)
{
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST List;
        ULONG_PTR More[63];
    } ids = {};
    ids.List.NumberOfAssignedProcesses = 64;
    threadless = 0;
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) {
        ADD_FAILURE() << "QueryInformationJobObject failed with " << GetLastError();
        return 0;
    }
    DWORD left = 0;
    for (DWORD index = 0; index < ids.List.NumberOfProcessIdsInList; ++index) {
        const bool abandoned = UnderWine() && ProcessorUseOf(static_cast<DWORD>(ids.List.ProcessIdList[index])).Threads == 0;
        threadless += abandoned ? 1 : 0;
        left += abandoned ? 0 : 1;
    }
    return left;
}

// The launcher's end of a pipe is inheritable, the test's is not. False, with the failure
// named, where the pipe cannot be made.
static bool MakePipe(HANDLE& read, HANDLE& write, bool launcherReads, const std::string& name)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inheritable, 0) ||
        !SetHandleInformation(launcherReads ? write : read, HANDLE_FLAG_INHERIT, 0)) {
        ADD_FAILURE() << "the launch " << name << ": its pipe could not be made (" << GetLastError() << ")";
        return false;
    }
    return true;
}

KivoRun RunKivo(const KivoStart& start)
{
    KivoRun run;
    const std::string name = LaunchName(start);
    const DWORD limit = static_cast<DWORD>(start.Limit * 1000);
    const bool captured = start.StdHandles == Handles::Pipes || start.StdHandles == Handles::StdoutToFile ||
                          start.StdHandles == Handles::OwnPipes || start.StdHandles == Handles::OneForBoth;
    const bool oneForBoth = start.StdHandles == Handles::OneForBoth;
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, errRead = nullptr,
           errWrite = nullptr;
    const std::string stdoutFile = start.StdHandles == Handles::StdoutToFile ? TempPath("stdout.txt") : "";
    if (captured) {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        if (!MakePipe(inRead, inWrite, true, name) || (!oneForBoth && !MakePipe(errRead, errWrite, false, name))) {
            return run;
        }
        if (stdoutFile.empty()) {
            if (!MakePipe(outRead, outWrite, false, name)) {
                return run;
            }
            errWrite = oneForBoth ? outWrite : errWrite;
        } else {
            outWrite = CreateFileA(stdoutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            if (outWrite == INVALID_HANDLE_VALUE) {
                ADD_FAILURE() << "the launch " << name << ": " << stdoutFile << " could not be made (" << GetLastError() << ")";
                return run;
            }
        }
    }

    // A job counts every process started under the program, so a test can tell whether a
    // child was started at all, and ends them all should the launch hang. The program
    // joins it before it runs.
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    EXPECT_NE(job, nullptr) << "CreateJobObjectA failed with " << GetLastError();
    if (start.UiLimitedJob) {
        JOBOBJECT_BASIC_UI_RESTRICTIONS limits = {JOB_OBJECT_UILIMIT_GLOBALATOMS};
        EXPECT_TRUE(SetInformationJobObject(job, JobObjectBasicUIRestrictions, &limits, sizeof limits))
            << "SetInformationJobObject failed with " << GetLastError();
    }
    LARGE_INTEGER begin;
    QueryPerformanceCounter(&begin);
    PROCESS_INFORMATION kivo = {};
    // As cmd redirects: the test's own standard handles are the pipes while it starts the
    // program, and its own again after.
    const bool own = start.StdHandles == Handles::OwnPipes;
    const DWORD kinds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE swapped[3] = {inRead, outWrite, errWrite};
    for (int index = 0; index < 3 && own; ++index) {
        const HANDLE before = GetStdHandle(kinds[index]);
        SetStdHandle(kinds[index], swapped[index]);
        swapped[index] = before;
    }
    const BOOL started = StartSuspended(start, inRead, outWrite, errWrite, kivo);
    const DWORD startError = GetLastError();
    for (int index = 0; index < 3 && own; ++index) {
        SetStdHandle(kinds[index], swapped[index]);
    }
    for (HANDLE launchersEnd : {inRead, outWrite, oneForBoth ? nullptr : errWrite}) {
        if (launchersEnd) {
            CloseHandle(launchersEnd);
        }
    }
    // Fed and drained while the program runs, so that no pipe fills up.
    std::function<void()> feed = [inWrite, &start] {
        DWORD written = 0;
        WriteFile(inWrite, start.Input.data(), static_cast<DWORD>(start.Input.size()), &written, nullptr);
        CloseHandle(inWrite);
    };
    std::function<void()> drainOut = [outRead, &run] { ReadAll(outRead, run.Stdout); };
    std::function<void()> drainErr = [errRead, &run] { ReadAll(errRead, run.Stderr); };
    HANDLE workers[3];
    DWORD workerCount = 0;
    if (captured) {
        workers[workerCount++] = Spawn(feed);
        if (errRead) {
            workers[workerCount++] = Spawn(drainErr);
        }
        if (outRead) {
            workers[workerCount++] = Spawn(drainOut);
        }
    }

    if (!started) {
        run.Status = startError;
        ADD_FAILURE() << "the launch " << name << " could not start (" << startError << ")";
    } else {
        EXPECT_TRUE(AssignProcessToJobObject(job, kivo.hProcess)) << "AssignProcessToJobObject failed with " << GetLastError();
        LARGE_INTEGER running;
        QueryPerformanceCounter(&running);
        EXPECT_NE(ResumeThread(kivo.hThread), static_cast<DWORD>(-1)) << "ResumeThread failed with " << GetLastError();
        if (start.KillAfter >= 0) {
            while (Elapsed(running) < start.KillAfter) {
                // A busy wait: Sleep cannot split a millisecond.
            }
            EXPECT_TRUE(TerminateProcess(kivo.hProcess, KilledStatus) || WaitForSingleObject(kivo.hProcess, 0) == WAIT_OBJECT_0)
                << "TerminateProcess failed with " << GetLastError();
        }
        if (WaitForSingleObject(kivo.hProcess, limit) != WAIT_OBJECT_0) {
            Hung(name, "the program did not end", start.Limit, job);
        }
        run.Seconds = Elapsed(begin);
        EXPECT_TRUE(GetExitCodeProcess(kivo.hProcess, &run.Status)) << "GetExitCodeProcess failed with " << GetLastError();
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        EXPECT_TRUE(QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                              nullptr))
            << "QueryInformationJobObject failed with " << GetLastError();
        run.Processes = accounting.TotalProcesses;
        run.LeftBehind = StillInJob(job, run.NeverStarted);
        if (start.KillAfter >= 0) {
            LARGE_INTEGER ended;
            QueryPerformanceCounter(&ended);
            while (run.LeftBehind > 0 && Elapsed(ended) < 5.0) {
                Sleep(10);
                run.LeftBehind = StillInJob(job, run.NeverStarted);
            }
            TerminateJobObject(job, 0);
        }
        CloseHandle(kivo.hProcess);
        CloseHandle(kivo.hThread);
    }
    // Whatever the program left running may hold its output open a while (a grandchild that
    // runs on); past the limit, the launch hung.
    if (workerCount > 0 && WaitForMultipleObjects(workerCount, workers, TRUE, limit) != WAIT_OBJECT_0) {
        Hung(name, "its standard handles were not closed", start.Limit, job);
    }
    for (DWORD index = 0; index < workerCount; ++index) {
        CloseHandle(workers[index]);
    }
    CloseHandle(job);
    if (!stdoutFile.empty()) {
        run.Stdout = ReadFileText(stdoutFile);
        DeleteFileA(stdoutFile.c_str());
    }
    return run;
}

std::string ReportValue(const std::string& report, const std::string& key)
{
    const std::string lines = "\n" + report;
    const std::string marker = "\n" + key + "=";
    const size_t at = lines.find(marker);
    if (at == std::string::npos) {
        return "(missing)";
    }
    const size_t from = at + marker.size();
    return lines.substr(from, lines.find('\n', from) - from);
}

DWORD ReportNumber(const std::string& report, const std::string& key)
{
    return std::strtoul(ReportValue(report, key).c_str(), nullptr, 10);
}

std::thread OnProbeReady(std::function<void()> action)
{
    const std::string name = "KivoProbeReady-" + std::to_string(GetCurrentProcessId());
    SetEnvironmentVariableA("KIVO_PROBE_READY", name.c_str());
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    EXPECT_NE(ready, nullptr) << "CreateEventA failed with " << GetLastError();
    return std::thread([ready, action] {
        if (WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0) {
            action();
        }
        CloseHandle(ready);
    });
}

void SkipRow(const char* row, const char* reason)
{
    std::printf("SKIPPED: the row \"%s\": %s\n", row, reason);
}
