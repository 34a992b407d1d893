#include "platform/image_header.h"

#include <cstring>

WORD ImageSubsystem(const BYTE* bytes, size_t size)
{
    // The subsystem lies at the same place in the headers of 32-bit and 64-bit images; what
    // differs between them comes after it.
    static_assert(offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem) ==
                      offsetof(IMAGE_NT_HEADERS64, OptionalHeader.Subsystem),
                  "one place for the subsystem");
    const size_t headers = offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem) + sizeof(WORD);
    const size_t optional = offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem) + sizeof(WORD);
    IMAGE_DOS_HEADER dos;
    if (size < sizeof dos) {
        return 0;
    }
    std::memcpy(&dos, bytes, sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 || static_cast<size_t>(dos.e_lfanew) > size ||
        size - static_cast<size_t>(dos.e_lfanew) < headers) {
        return 0;
    }
    IMAGE_NT_HEADERS32 image;
    std::memcpy(&image, bytes + dos.e_lfanew, headers);
    const bool known = image.Signature == IMAGE_NT_SIGNATURE && image.FileHeader.SizeOfOptionalHeader >= optional &&
                       (image.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
                        image.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    return known ? image.OptionalHeader.Subsystem : 0;
}
