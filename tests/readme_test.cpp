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

// A file that an example names, made for it, and removed after unless it could not be made.
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

// A copy that an example names by an absolute path, made there with a mark beside it. A file
// there already is replaced only where an earlier run left it, with its mark: it may be of
// another build, or one that never ends. Another one is not the test's to touch.
bool MakeMarked(const std::string& from, const std::string& to, std::vector<Made>& made)
{
    const std::string mark = to + ".kivo-test";
    if (GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA(mark.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const bool marked = WriteFileText(mark, "made by Kivo's README test\r\n");
    made.push_back({mark, marked});
    made.push_back({to, marked && CopyFileA(from.c_str(), to.c_str(), FALSE) != 0});
    return made.back().Ours;
}

} // namespace

TEST(Readme, EveryExampleForCmdEndsWithItsStatus)
{
    // The folder is named by the test's process id, which Wine gives again run after run:
    // what an earlier run left there is replaced.
    const std::string folder = TempPath("readme");
    CreateDirectoryA(folder.c_str(), nullptr);
    // The programs the examples name: a Kivo of the folder's own, which cmd finds first;
    // probes that end with 0 in place of the README's own tools; two that the examples
    // name by an absolute path, where this machine lets the test make them.
    const std::string absoluteFolders[] = {"C:\\Program Files\\Tool", "C:\\tools"};
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
    };
    for (const auto& [from, to] : copies) {
        made.push_back({to, CopyFileA(from.c_str(), to.c_str(), FALSE) != 0});
    }
    const bool absolutesMade = MakeMarked(ProbePath(), absoluteFolders[0] + "\\tool.exe", made) &&
                               MakeMarked(KivoPath(), absoluteFolders[1] + "\\Kivo.exe", made);
    made.push_back({folder + "\\job.bat", WriteFileText(folder + "\\job.bat", "@exit /b 7\r\n")});
    made.push_back({folder + "\\a&b.txt", WriteFileText(folder + "\\a&b.txt", "a and b\r\n")});
    made.push_back({folder + "\\out.txt", true});

    std::istringstream list(ReadmeExamples);
    std::string line;
    int examples = 0;
    while (std::getline(list, line)) {
        const size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) {
            continue;
        }
        // The example, and where the child is a probe, the command line it must get.
        const size_t second = line.find('\t', tab + 1);
        const std::string example = line.substr(tab + 1, second == std::string::npos ? second : second - tab - 1);
        const std::string commandLine = second == std::string::npos ? "" : line.substr(second + 1);
        SCOPED_TRACE(example);
        ++examples;
        const bool absolute = example.find(absoluteFolders[0]) != std::string::npos ||
                              example.find(absoluteFolders[1]) != std::string::npos;
        if (absolute && !absolutesMade) {
            SkipRow(example.c_str(), "the programs it names by an absolute path could not be made here, or are "
                                     "there already and not the test's");
            continue;
        }
        // cmd /s takes the rest of its line, its outer quotes dropped, as typed at a prompt.
        const std::string report = FreshReport();
        const KivoRun run = RunKivo({.Operands = "/s /c \"" + example + "\"",
                                     .Program = SystemProgram("cmd.exe"),
                                     .Directory = folder});
        EXPECT_EQ(run.Status, std::strtoul(line.c_str(), nullptr, 10)) << run.Stdout << run.Stderr;
        if (!commandLine.empty()) {
            EXPECT_EQ(ReportValue(ReadFileText(report), "cmdline"), commandLine) << "the child's command line";
        }
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
