#include "host.h"

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

double MachineBusySeconds()
{
    FILETIME idle, kernel, user;
    GetSystemTimes(&idle, &kernel, &user);
    return Seconds(kernel) - Seconds(idle) + Seconds(user); // kernel time includes idle time
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
