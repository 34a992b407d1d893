#include "platform/child_console.h"

#include <cstddef>
#include <cstring>

#include "platform/kernel32_function.h"

bool AloneOnConsole()
{
    // Windows XP and later count a console's processes; on earlier Windows Kivo keeps it.
    const auto list = Kernel32Function<decltype(&GetConsoleProcessList)>("GetConsoleProcessList");
    DWORD processes[2];
    return list && list(processes, 2) == 1;
}

// The subsystem that an image's header names, or 0 where its file cannot be read as one.
// The headers lie in the file's first page; should they not, the console stays. The
// subsystem lies at the same place in the headers of 32-bit and 64-bit images.
static WORD SubsystemOf(const wchar_t* path)
{
    static_assert(offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem) ==
                      offsetof(IMAGE_NT_HEADERS64, OptionalHeader.Subsystem),
                  "one place for the subsystem");
    const size_t end = offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem) + sizeof(WORD);
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
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, header, sizeof dos);
    const size_t offset = static_cast<DWORD>(dos.e_lfanew);
    WORD subsystem = 0;
    if (got >= sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE && offset < got && got - offset >= end &&
        std::memcmp(header + offset, "PE\0\0", 4) == 0) {
        std::memcpy(&subsystem, header + offset + end - sizeof subsystem, sizeof subsystem);
    }
    return subsystem;
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
