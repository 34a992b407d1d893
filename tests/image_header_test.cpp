// Kivo tells a GUI child by the subsystem in its image's headers, read from the first page
// of its file: whatever those bytes hold, it reads none beyond them, and takes for a
// subsystem only what a 32-bit or 64-bit image's headers say.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/image_header.h"

// The headers of an image with this optional header magic and subsystem, at offset at.
static std::vector<BYTE> Image(WORD magic, WORD subsystem, LONG at = 0x80)
{
    std::vector<BYTE> bytes(512);
    IMAGE_DOS_HEADER dos = {};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = at;
    std::memcpy(bytes.data(), &dos, sizeof dos);
    if (at >= 0 && static_cast<size_t>(at) + sizeof(IMAGE_NT_HEADERS64) <= bytes.size()) {
        IMAGE_NT_HEADERS64 nt = {};
        nt.Signature = IMAGE_NT_SIGNATURE;
        nt.FileHeader.SizeOfOptionalHeader = sizeof nt.OptionalHeader;
        nt.OptionalHeader.Magic = magic;
        nt.OptionalHeader.Subsystem = subsystem;
        std::memcpy(bytes.data() + at, &nt, sizeof nt);
    }
    return bytes;
}

TEST(ImageHeader, OnlyTheHeadersOfAnImageNameASubsystem)
{
    const WORD pe32 = IMAGE_NT_OPTIONAL_HDR32_MAGIC, pe64 = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const WORD gui = IMAGE_SUBSYSTEM_WINDOWS_GUI, cui = IMAGE_SUBSYSTEM_WINDOWS_CUI;
    // Where the subsystem ends, counted from the start of the headers at 0x80.
    const size_t end = 0x80 + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem) + sizeof(WORD);
    std::vector<BYTE> notPe = Image(pe32, gui);
    notPe[0x80] = 'N';
    std::vector<BYTE> noMagic = Image(0x0107, gui); // a ROM image's
    std::vector<BYTE> noMz = Image(pe32, gui);
    noMz[0] = 'Z';
    std::vector<BYTE> shortOptional = Image(pe32, gui);
    reinterpret_cast<IMAGE_NT_HEADERS32*>(shortOptional.data() + 0x80)->FileHeader.SizeOfOptionalHeader = 60;
    struct Row {
        const char* bytes;
        std::vector<BYTE> image;
        size_t size; // how many of them were read
        WORD subsystem;
    };
    const Row rows[] = {
        {"a PE32 GUI program", Image(pe32, gui), 512, gui},
        {"a PE32+ GUI program", Image(pe64, gui), 512, gui},
        {"a PE32 console program", Image(pe32, cui), 512, cui},
        {"a PE32+ console program", Image(pe64, cui), 512, cui},
        {"headers that end where the read ended", Image(pe32, gui), end, gui},
        {"headers cut one byte short", Image(pe32, gui), end - 1, 0},
        {"nothing read", Image(pe32, gui), 0, 0},
        {"less than a DOS header", Image(pe32, gui), sizeof(IMAGE_DOS_HEADER) - 1, 0},
        {"headers said to lie before the file", Image(pe32, gui, -4), 512, 0},
        {"headers said to lie far beyond the read", Image(pe32, gui, 0x7FFFFFF0), 512, 0},
        {"headers said to start at the end of the read", Image(pe32, gui, 512), 512, 0},
        {"no PE signature", notPe, 512, 0},
        {"no MZ signature", noMz, 512, 0},
        {"an optional header of another kind", noMagic, 512, 0},
        {"an optional header too short for a subsystem", shortOptional, 512, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bytes);
        // Only what was read: a copy of that length, so that reading beyond it shows.
        const std::vector<BYTE> read(row.image.begin(), row.image.begin() + static_cast<std::ptrdiff_t>(row.size));
        EXPECT_EQ(ImageSubsystem(read.data(), read.size()), row.subsystem);
    }
}
