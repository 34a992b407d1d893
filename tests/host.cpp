#include "host.h"

#include <tlhelp32.h>

#include <cstdio>

std::string ExeFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1);
}

double Seconds(const FILETIME& time)
{
    return static_cast<double>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
}

ProcessorUse ProcessorUseOf(DWORD id)
{
    ProcessorUse use = {0, 0, 0};
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != id) {
            continue;
        }
        ++use.Threads;
        const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        FILETIME created, exited, kernel, user;
        if (thread && GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
            use.Seconds += Seconds(kernel) + Seconds(user);
        }
        ULONG64 cycles = 0;
        if (thread && QueryThreadCycleTime(thread, &cycles)) {
            use.Cycles += cycles;
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return use;
}

bool CyclesCounted()
{
    ULONG64 before = 0, after = 0;
    QueryThreadCycleTime(GetCurrentThread(), &before);
    volatile unsigned sum = 0;
    for (unsigned step = 0; step < 1000000; ++step) {
        sum = sum + step;
    }
    QueryThreadCycleTime(GetCurrentThread(), &after);
    return after > before;
}

std::string ReadFileText(const std::string& path)
{
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}
