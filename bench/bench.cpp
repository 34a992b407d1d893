// What a launch through Kivo costs, side by side with the alternatives:
//   1 the no-op child started directly: the floor for starting any process
//   2 Kivo alone with no operand: its own start-up and exit
//   3 Kivo starting the no-op child: a launch through Kivo
//   4 cmd /c starting the no-op child: what a script would use instead
// The variants run interleaved so that drift in the machine hits all alike. Usage: KivoBench [ROUNDS [JSON_FILE]]
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host.h"
#include "pe_imports.h"

namespace {

struct Figures {
    double Min, Median, P90; // seconds
};

double Now()
{
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Starts a command line with its standard handles on NUL; the caller waits and closes.
PROCESS_INFORMATION Start(std::string commandLine)
{
    static HANDLE nul = [] {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           OPEN_EXISTING, 0, nullptr);
    }();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
        std::exit(1);
    }
    return process;
}

void Release(const PROCESS_INFORMATION& process)
{
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// Wall time from CreateProcess to the end of the wait.
double TimeLaunch(const std::string& commandLine)
{
    const double begin = Now();
    const PROCESS_INFORMATION process = Start(commandLine);
    WaitForSingleObject(process.hProcess, INFINITE);
    const double took = Now() - begin;
    Release(process);
    return took;
}

Figures Summarise(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    return {times.front(), n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2, times[(n * 9 + 9) / 10 - 1]};
}

// Processor time of a launcher that waits on a child: its own, as the platform reports
// it, and the whole machine's busy time meanwhile (Wine reports no other process's own).
struct WaitCost {
    double Own, Machine;
};

WaitCost MeasureWait(const std::string& commandLine)
{
    const double busy = MachineBusySeconds();
    const PROCESS_INFORMATION process = Start(commandLine);
    WaitForSingleObject(process.hProcess, INFINITE);
    const double machine = MachineBusySeconds() - busy;
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    Release(process);
    return {Seconds(kernel) + Seconds(user), machine};
}

// Peak working set of a process, read while it still runs.
SIZE_T PeakWorkingSet(const std::string& commandLine)
{
    const PROCESS_INFORMATION process = Start(commandLine);
    Sleep(500);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters);
    WaitForSingleObject(process.hProcess, INFINITE);
    Release(process);
    return counters.PeakWorkingSetSize;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

} // namespace

int main(int argc, char* argv[])
{
    const char* const arch = sizeof(void*) == 8 ? "x64" : "x86"; // of this build, which Kivo.exe shares
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 120;
    const std::string json = argc > 2 ? argv[2] : ExeFolder() + "bench.json";
    const std::string noop = "\"" + ExeFolder() + "KivoNoop.exe\"";
    const std::string kivo = "\"" + ExeFolder() + "Kivo.exe\"";
    // Kivo's command line for a one-operand launch of the no-op child: the child's quoted
    // path, its quotes escaped, and what follows it.
    const auto kivoNoop = [&](const std::string& rest) {
        return kivo + " \"\\\"" + ExeFolder() + "KivoNoop.exe\\\"" + rest + "\"";
    };

    const char* names[4] = {"no-op child, direct", "Kivo, no operand (usage)", "Kivo starting the no-op child",
                            "cmd /c starting the no-op child"};
    const std::string commandLines[4] = {noop, kivo, kivoNoop(""), "cmd /c " + noop};
    std::vector<double> times[4];
    // Three rounds to warm up, not counted. Each round starts one variant further on
    // (1 2 3 4, 2 3 4 1, ...), so that no variant always follows the same one.
    for (int round = -3; round < rounds; ++round) {
        for (int step = 0; step < 4; ++step) {
            const int variant = (step + round + 3) % 4;
            const double took = TimeLaunch(commandLines[variant]);
            if (round >= 0) {
                times[variant].push_back(took);
            }
        }
    }
    Figures figures[4];
    for (int variant = 0; variant < 4; ++variant) {
        figures[variant] = Summarise(times[variant]);
    }

    const WaitCost quick = MeasureWait(kivoNoop(""));
    const WaitCost slow = MeasureWait(kivoNoop(" 2000"));
    const SIZE_T noopPeak = PeakWorkingSet(noop + " 1000");
    const SIZE_T kivoPeak = PeakWorkingSet(kivoNoop(" 1000"));

    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExA((ExeFolder() + "Kivo.exe").c_str(), GetFileExInfoStandard, &attributes);
    const DWORD size = attributes.nFileSizeLow;
    std::string imports;
    for (const std::string& name : PeImports(ExeFolder() + "Kivo.exe")) {
        imports += (imports.empty() ? "" : ", ") + name;
    }

    const Figures& direct = figures[0];
    const Figures& usage = figures[1];
    const Figures& launch = figures[2];
    const Figures& cmd = figures[3];
    const double addedMin = (launch.Min - direct.Min) / direct.Min;
    const double addedMedian = (launch.Median - direct.Median) / direct.Median;
    const double usageMin = usage.Min / direct.Min, usageMedian = usage.Median / direct.Median;
    const double cmdMin = launch.Min / cmd.Min, cmdMedian = launch.Median / cmd.Median;
    const double peakRatio = static_cast<double>(kivoPeak) / static_cast<double>(noopPeak);
    const double waitExtra = slow.Own - quick.Own;

    std::printf("%s build. Launch wall time, CreateProcess to the end of the wait, %d runs each, interleaved\n", arch,
                rounds);
    std::printf("(the minimum is the steadiest figure; process starts are noisy and often bimodal)\n\n");
    std::printf("  %-34s %9s %9s %9s\n", "variant", "min ms", "median ms", "p90 ms");
    for (int variant = 0; variant < 4; ++variant) {
        std::printf("  %d %-32s %9.2f %9.2f %9.2f\n", variant + 1, names[variant], figures[variant].Min * 1e3,
                    figures[variant].Median * 1e3, figures[variant].P90 * 1e3);
    }
    std::printf("\n%s ratios (from minima; from medians)\n", arch);
    std::printf("  cost Kivo adds, (3-1)/1:  %.3f; %.3f  target <= 1.10: %s\n", addedMin, addedMedian,
                Verdict(addedMin <= 1.10));
    std::printf("  usage path, 2/1:          %.3f; %.3f  target <= 1.05: %s\n", usageMin, usageMedian,
                Verdict(usageMin <= 1.05));
    std::printf("  Kivo against cmd, 3/4:    %.3f; %.3f  (for the reader)\n", cmdMin, cmdMedian);
    std::printf("\n%s Kivo's processor time while its child runs\n", arch);
    std::printf("  child sleeps 2 s: own %.1f ms, machine busy %.1f ms\n", slow.Own * 1e3, slow.Machine * 1e3);
    std::printf("  child ends at once: own %.1f ms, machine busy %.1f ms\n", quick.Own * 1e3, quick.Machine * 1e3);
    std::printf("  extra: %.1f ms  target <= 2 ms: %s\n", waitExtra * 1e3, Verdict(waitExtra <= 0.002));
    std::printf("  (Wine reports no other process's own times; there the machine's busy time, which counts\n"
                "  every process, bounds the launcher's)\n");
    std::printf("\n%s peak working set: Kivo %lu KiB, no-op child %lu KiB, ratio %.3f  target <= 1.05: %s\n", arch,
                static_cast<unsigned long>(kivoPeak / 1024), static_cast<unsigned long>(noopPeak / 1024), peakRatio,
                Verdict(peakRatio <= 1.05));
    std::printf("%s Kivo.exe: %lu bytes  target <= 16384: %s; imports %s\n", arch, size, Verdict(size <= 16384),
                imports.c_str());

    FILE* out = std::fopen(json.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", json.c_str());
        return 1;
    }
    std::fprintf(out, "{\n  \"arch\": \"%s\",\n  \"rounds\": %d,\n  \"variants\": [\n", arch, rounds);
    for (int variant = 0; variant < 4; ++variant) {
        std::fprintf(out, "    {\"name\": \"%s\", \"min_ms\": %.3f, \"median_ms\": %.3f, \"p90_ms\": %.3f}%s\n",
                     names[variant], figures[variant].Min * 1e3, figures[variant].Median * 1e3,
                     figures[variant].P90 * 1e3, variant < 3 ? "," : "");
    }
    std::fprintf(out, "  ],\n  \"added_cost_ratio\": {\"min\": %.4f, \"median\": %.4f},\n", addedMin, addedMedian);
    std::fprintf(out, "  \"usage_ratio\": {\"min\": %.4f, \"median\": %.4f},\n", usageMin, usageMedian);
    std::fprintf(out, "  \"kivo_to_cmd_ratio\": {\"min\": %.4f, \"median\": %.4f},\n", cmdMin, cmdMedian);
    std::fprintf(out, "  \"wait_cpu_ms\": {\"sleeping_child_own\": %.2f, \"quick_child_own\": %.2f, "
                      "\"sleeping_child_machine\": %.2f, \"quick_child_machine\": %.2f},\n",
                 slow.Own * 1e3, quick.Own * 1e3, slow.Machine * 1e3, quick.Machine * 1e3);
    std::fprintf(out, "  \"peak_working_set_bytes\": {\"kivo\": %lu, \"noop\": %lu},\n",
                 static_cast<unsigned long>(kivoPeak), static_cast<unsigned long>(noopPeak));
    std::fprintf(out, "  \"kivo_exe_bytes\": %lu,\n  \"kivo_exe_imports\": \"%s\"\n}\n", size, imports.c_str());
    std::fclose(out);
    std::printf("\nFigures written to %s\n", json.c_str());
    return 0;
}
