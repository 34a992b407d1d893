#include "platform/child_console.h"

#include "platform/image_header.h"
#include "platform/kernel32_function.h"

bool AloneOnConsole()
{
    // Windows XP and later count a console's processes; on earlier Windows Kivo keeps it.
    const auto list = Kernel32Function<decltype(&GetConsoleProcessList)>("GetConsoleProcessList");
    DWORD processes[2];
    return list && list(processes, 2) == 1;
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

void LeaveConsoleToGuiChild(HANDLE process)
{
    // The platform names the image that it started, however the operand named it (by a
    // search, without its extension): Windows Vista and later, even before the child has
    // run. Earlier Windows cannot tell, and Kivo keeps its console there.
    const auto imageName = Kernel32Function<decltype(&QueryFullProcessImageNameW)>("QueryFullProcessImageNameW");
    static wchar_t path[32768];
    DWORD length = sizeof path / sizeof path[0];
    if (imageName && imageName(process, 0, path, &length) && SubsystemOf(path) == IMAGE_SUBSYSTEM_WINDOWS_GUI) {
        FreeConsole();
    }
}

bool HaveConsole()
{
    // Then its screen buffer opens, however our standard handles were redirected.
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (screen == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(screen);
    return true;
}

// AllocConsoleWithOptions' record and results (Windows 11 24H2, build 26100), which only
// Windows reads.
struct AllocConsoleOptions {
    // cppcheck-suppress unusedStructMember
    int Mode; // ALLOC_CONSOLE_MODE_DEFAULT (0): a console "if (and how) one was requested by the parent"
    // cppcheck-suppress unusedStructMember
    BOOL UseShowWindow;
    // cppcheck-suppress unusedStructMember
    WORD ShowWindow;
};
static const int NewConsoleMade = 1; // ALLOC_CONSOLE_RESULT_NEW_CONSOLE; 0: none asked for, 2: one there already

DWORD CallersConsoleFlags()
{
    // Windows before 24H2 start a console program without a console only where its caller
    // asked for none; a caller's CREATE_NO_WINDOW gives us a console without a window there,
    // which the child shares. Later ones, under our detached policy, start us without a
    // console whatever the caller asked, and tell what it asked by making a console as
    // asked: none, one without a window (CREATE_NO_WINDOW, whose console host is told that
    // its window is invisible), or one with a window, asked for hidden here so that none
    // shows. A console without a window has none for GetConsoleWindow to name (it returns
    // NULL there since Windows 7, by published experiments), a hidden one has. Only a new
    // console is ours to let go at once: making it replaced our standard handles with its
    // own, which letting it go closes, so ours are put back.
    using AllocConsoleWithOptions = HRESULT(WINAPI*)(AllocConsoleOptions*, int*);
    const auto allocate = Kernel32Function<AllocConsoleWithOptions>("AllocConsoleWithOptions");
    if (!allocate) {
        return DETACHED_PROCESS;
    }
    const DWORD kinds[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE standard[3];
    for (int index = 0; index < 3; ++index) {
        standard[index] = GetStdHandle(kinds[index]);
    }
    AllocConsoleOptions options = {0, TRUE, SW_HIDE};
    int result = 0;
    if (FAILED(allocate(&options, &result))) {
        return DETACHED_PROCESS;
    }
    if (result != NewConsoleMade) {
        return result == 0 ? DETACHED_PROCESS : 0; // attached already: the child shares it
    }
    const auto window = Kernel32Function<decltype(&GetConsoleWindow)>("GetConsoleWindow");
    const DWORD flags = window && !window() ? CREATE_NO_WINDOW : 0;
    FreeConsole();
    for (int index = 0; index < 3; ++index) {
        SetStdHandle(kinds[index], standard[index]);
    }
    return flags;
}
