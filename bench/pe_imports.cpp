#include "pe_imports.h"

#include <windows.h>

#include <cstring>

#include "host.h"

std::vector<std::string> PeImports(const std::string& path)
{
    const std::string file = ReadFileText(path);
    std::vector<std::string> names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    if (file.size() < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
        file.size() < static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64)) {
        return names;
    }
    // PE32 and PE32+ share the headers up to the optional header, whose data directories
    // lie at different places.
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& importDirectory =
        nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
            ? reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT]
            : nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);

    // Where an address of the loaded image lies in the file, or 0.
    auto offset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& section = sections[i];
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        return 0;
    };

    size_t at = offset(importDirectory.VirtualAddress);
    while (at != 0 && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= file.size()) {
        const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(file.data() + at);
        const size_t name = offset(import->Name);
        if (import->Name == 0 || name == 0 || name >= file.size()) {
            break;
        }
        names.emplace_back(file.data() + name, strnlen(file.data() + name, file.size() - name));
        at += sizeof *import;
    }
    return names;
}
