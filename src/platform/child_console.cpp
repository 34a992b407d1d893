#include "platform/child_console.h"

#include "platform/image_header.h"
#include "platform/kernel32_function.h"

// Whether a console buffer of this name opens.
static bool Opens(const wchar_t* name)
{
    HANDLE buffer = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (buffer == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(buffer);
    return true;
}

bool HaveConsole()
{
    // Then its input buffer or its screen buffer opens, however our standard handles were
    // redirected. Another process on it may hold either unshared (a screen buffer made with
    // no sharing and made the active one), so either will do. The input buffer first:
    // opening and closing the screen buffer can upset Windows 7's console host.
    return Opens(L"CONIN$") || Opens(L"CONOUT$");
}

DWORD ConsoleProcessCount()
{
    // Windows XP and later count a console's processes.
    const auto list = Kernel32Function<decltype(&GetConsoleProcessList)>("GetConsoleProcessList");
    DWORD processes[2];
    return list ? list(processes, 2) : 0;
}

// AllocConsoleWithOptions' record (Windows 11 24H2, build 26100), which only Windows reads.
struct AllocConsoleOptions {
    // cppcheck-suppress unusedStructMember
    int Mode; // ALLOC_CONSOLE_MODE_DEFAULT (0): a console "if (and how) one was requested by the parent"
    // cppcheck-suppress unusedStructMember
    BOOL UseShowWindow;
    // cppcheck-suppress unusedStructMember
    WORD ShowWindow;
};

ConsoleAllocation AllocateAsAsked(bool& window)
{
    using AllocConsoleWithOptions = HRESULT(WINAPI*)(AllocConsoleOptions*, int*);
    const auto allocate = Kernel32Function<AllocConsoleWithOptions>("AllocConsoleWithOptions");
    if (!allocate) {
        return AllocationUntold;
    }
    const DWORD kinds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE standard[3];
    for (int index = 0; index < 3; ++index) {
        standard[index] = GetStdHandle(kinds[index]);
    }
    // A console with a window is asked for hidden, so that none shows.
    AllocConsoleOptions options = {0, TRUE, SW_HIDE};
    int result = AllocationUntold;
    if (FAILED(allocate(&options, &result))) {
        return AllocationUntold;
    }
    if (result == AllocationNew) {
        // A console without a window has none to name (GetConsoleWindow returns NULL there
        // since Windows 7, by published experiments); a hidden one has. Making it replaced
        // our standard handles with its own, which letting it go closes: ours are put back.
        const auto console = Kernel32Function<decltype(&GetConsoleWindow)>("GetConsoleWindow");
        window = !console || console();
        FreeConsole();
        for (int index = 0; index < 3; ++index) {
            SetStdHandle(kinds[index], standard[index]);
        }
    }
    return static_cast<ConsoleAllocation>(result);
}

// The subsystem of the image in this file, or 0 where its headers cannot be read. They lie
// in the file's first page; should they not, the console stays.
static WORD SubsystemOf(const wchar_t* path)
{
    static BYTE header[4096];
    DWORD got = 0;
    HANDLE image = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (image != INVALID_HANDLE_VALUE) {
        if (!ReadFile(image, header, sizeof header, &got, nullptr)) {
            got = 0;
        }
        CloseHandle(image);
    }
    return ImageSubsystem(header, got);
}

WORD ChildSubsystem(HANDLE process)
{
    // The platform names the image that it started, however the operand named it (by a
    // search, without its extension): Windows Vista and later, even before the child has
    // run.
    const auto imageName = Kernel32Function<decltype(&QueryFullProcessImageNameW)>("QueryFullProcessImageNameW");
    static wchar_t path[32768];
    DWORD length = sizeof path / sizeof path[0];
    return imageName && imageName(process, 0, path, &length) ? SubsystemOf(path) : 0;
}
