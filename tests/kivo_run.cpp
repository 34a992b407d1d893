#include "kivo_run.h"

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
static std::thread ReadAll(HANDLE pipe, std::string& text)
{
    return std::thread([pipe, &text] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            text.append(buffer, got);
        }
        CloseHandle(pipe);
    });
}

// The launcher's startup record, in the ANSI or the wide form: they differ only in texts,
// and the wide title is the caller's to keep.
template <typename Record>
static Record StartupRecord(const KivoStart& start, HANDLE in, HANDLE out, HANDLE err)
{
    Record startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = start.Record.dwFlags | (start.NoStdHandles ? 0 : STARTF_USESTDHANDLES);
    startup.wShowWindow = start.Record.wShowWindow;
    startup.dwX = start.Record.dwX;
    startup.dwY = start.Record.dwY;
    startup.dwXSize = start.Record.dwXSize;
    startup.dwYSize = start.Record.dwYSize;
    startup.dwXCountChars = start.Record.dwXCountChars;
    startup.dwYCountChars = start.Record.dwYCountChars;
    startup.dwFillAttribute = start.Record.dwFillAttribute;
    startup.hStdInput = start.NoStdHandles ? start.Record.hStdInput : in; // or a hot key
    if (!start.NoStdHandles) {
        startup.hStdOutput = out;
        startup.hStdError = err;
    }
    if (start.OddStdHandles) {
        startup.hStdInput = startup.hStdOutput = startup.hStdError = start.StdHandles;
    }
    return startup;
}

// Starts the launcher suspended, handing it every inheritable handle, through the ANSI
// API or, given wide operands, through the wide one.
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
    QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr);
    DWORD left = 0;
    threadless = 0;
    for (DWORD index = 0; index < ids.List.NumberOfProcessIdsInList; ++index) {
        const bool abandoned = UnderWine() && ProcessorUseOf(static_cast<DWORD>(ids.List.ProcessIdList[index])).Threads == 0;
        threadless += abandoned ? 1 : 0;
        left += abandoned ? 0 : 1;
    }
    return left;
}

KivoRun RunKivo(const KivoStart& start)
{
    // The launcher's ends of the pipes are inheritable, ours are not.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, errRead = nullptr,
           errWrite = nullptr;
    CreatePipe(&inRead, &inWrite, &inheritable, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    CreatePipe(&errRead, &errWrite, &inheritable, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    if (start.StdoutFile.empty()) {
        CreatePipe(&outRead, &outWrite, &inheritable, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    } else {
        outWrite = CreateFileA(start.StdoutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    PROCESS_INFORMATION kivo = {};
    KivoRun run;

    // A job counts every process started under the launcher, so a test can tell whether
    // a child was started at all. The launcher joins it before it runs.
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (start.UiLimitedJob) {
        JOBOBJECT_BASIC_UI_RESTRICTIONS limits = {JOB_OBJECT_UILIMIT_GLOBALATOMS};
        SetInformationJobObject(job, JobObjectBasicUIRestrictions, &limits, sizeof limits);
    }
    LARGE_INTEGER begin;
    QueryPerformanceCounter(&begin);
    const BOOL started = StartSuspended(start, inRead, outWrite, errWrite, kivo);
    const DWORD startError = GetLastError();
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    // Fed and drained while the launcher runs, so that no pipe fills up.
    std::thread feeder([inWrite, &start] {
        DWORD written = 0;
        WriteFile(inWrite, start.Input.data(), static_cast<DWORD>(start.Input.size()), &written, nullptr);
        CloseHandle(inWrite);
    });
    std::thread outReader = outRead ? ReadAll(outRead, run.Stdout) : std::thread();
    std::string errText;
    std::thread errReader = ReadAll(errRead, errText);

    if (!started) {
        run.Status = startError;
        run.Stderr = "the test could not start Kivo.exe";
    } else {
        AssignProcessToJobObject(job, kivo.hProcess);
        LARGE_INTEGER running;
        QueryPerformanceCounter(&running);
        ResumeThread(kivo.hThread);
        if (start.KillAfter >= 0) {
            while (Elapsed(running) < start.KillAfter) {
                // A busy wait: Sleep cannot split a millisecond.
            }
            TerminateProcess(kivo.hProcess, KilledStatus);
        }
        WaitForSingleObject(kivo.hProcess, INFINITE);
        run.Seconds = Elapsed(begin);
        GetExitCodeProcess(kivo.hProcess, &run.Status);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr);
        run.Processes = accounting.TotalProcesses;
        if (start.KillAfter >= 0) {
            LARGE_INTEGER ended;
            QueryPerformanceCounter(&ended);
            while ((run.LeftBehind = StillInJob(job, run.NeverStarted)) > 0 && Elapsed(ended) < 5.0) {
                Sleep(10);
            }
            TerminateJobObject(job, 0);
        }
        CloseHandle(kivo.hProcess);
        CloseHandle(kivo.hThread);
    }
    CloseHandle(job);
    feeder.join();
    if (outReader.joinable()) {
        outReader.join();
    }
    errReader.join();
    run.Stderr += errText;
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
    return std::thread([ready, action] {
        if (WaitForSingleObject(ready, 15000) == WAIT_OBJECT_0) {
            action();
        }
        CloseHandle(ready);
    });
}
