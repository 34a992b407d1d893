// The README's examples for cmd, typed as a user types them at a prompt: through cmd, in a
// folder that holds what they name, each must end with the status that the list gives it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "kivo_run.h"
#include "readme_examples.h"

namespace {

// A file that an example names, made for it, and removed after unless it was there before.
struct Made {
    std::string Path;
    bool Ours = false;
};

std::string SystemProgram(const char* name)
{
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + name;
}

} // namespace

TEST(Readme, EveryExampleForCmdEndsWithItsStatus)
{
    const std::string folder = TempPath("readme");
    CreateDirectoryA(folder.c_str(), nullptr);
    // The programs the examples name: a Kivo of the folder's own, which cmd finds first;
    // probes that end with 0 in place of the README's own tools; two that the examples
    // name by an absolute path, where this machine lets the test make them.
    const std::string absoluteFolders[] = {"C:\\Program Files\\Tool", "C:\\tools"};
    const std::string absolutes[] = {absoluteFolders[0] + "\\tool.exe", absoluteFolders[1] + "\\Kivo.exe"};
    std::vector<Made> made;
    std::vector<std::string> folders;
    for (const std::string& absolute : absoluteFolders) {
        if (CreateDirectoryA(absolute.c_str(), nullptr)) {
            folders.push_back(absolute);
        }
    }
    const std::pair<std::string, std::string> copies[] = {
        {KivoPath(), folder + "\\Kivo.exe"},
        {ProbePath(), folder + "\\prog.exe"},
        {ProbePath(), folder + "\\tool.exe"},
        {ProbePath(), absolutes[0]},
        {KivoPath(), absolutes[1]},
    };
    for (const auto& [from, to] : copies) {
        made.push_back({to, CopyFileA(from.c_str(), to.c_str(), TRUE) != 0});
    }
    made.push_back({folder + "\\job.bat", WriteFileText(folder + "\\job.bat", "@exit /b 7\r\n")});
    made.push_back({folder + "\\a&b.txt", WriteFileText(folder + "\\a&b.txt", "a and b\r\n")});
    made.push_back({folder + "\\out.txt", true});
    SetEnvironmentVariableA("KIVO_PROBE_OUT", nullptr);
    bool absolutesThere = true;
    for (const std::string& absolute : absolutes) {
        absolutesThere = absolutesThere && GetFileAttributesA(absolute.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::istringstream list(ReadmeExamples);
    std::string line;
    int examples = 0;
    while (std::getline(list, line)) {
        const size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) {
            continue;
        }
        const std::string example = line.substr(tab + 1);
        SCOPED_TRACE(example);
        ++examples;
        const bool absolute = example.find(absoluteFolders[0]) != std::string::npos ||
                              example.find(absoluteFolders[1]) != std::string::npos;
        if (absolute && !absolutesThere) {
            SkipRow(example.c_str(), "the programs it names by an absolute path could not be made here");
            continue;
        }
        // cmd /s takes the rest of its line, its outer quotes dropped, as typed at a prompt.
        const KivoRun run = RunKivo({.Operands = "/s /c \"" + example + "\"",
                                     .Program = SystemProgram("cmd.exe"),
                                     .Directory = folder});
        EXPECT_EQ(run.Status, std::strtoul(line.c_str(), nullptr, 10)) << run.Stdout << run.Stderr;
    }
    EXPECT_GT(examples, 0) << "no example in the list";

    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        if (it->Ours) {
            DeleteFileA(it->Path.c_str());
        }
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        RemoveDirectoryA(it->c_str());
    }
    RemoveDirectoryA(folder.c_str());
}
