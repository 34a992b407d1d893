// What Windows shows in Kivo.exe's properties comes from the project's version.
#include <gtest/gtest.h>

#include <vector>

#include "kivo_run.h"

static std::string VersionString(std::vector<char>& info, const char* name)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0) {
        return "(missing)";
    }
    return value;
}

TEST(Release, KivoExeCarriesTheProjectVersion)
{
    const std::string kivo = KivoPath();
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeA(kivo.c_str(), &unused);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(kivo.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(KIVO_VERSION_MINOR, KIVO_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, KIVO_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(VersionString(info, "FileVersion"), KIVO_VERSION);
    EXPECT_EQ(VersionString(info, "ProductVersion"), KIVO_VERSION);
    EXPECT_EQ(VersionString(info, "ProductName"), "Kivo");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "Kivo.exe");
    EXPECT_NE(VersionString(info, "FileDescription"), "(missing)");
    EXPECT_NE(VersionString(info, "LegalCopyright"), "(missing)");
}
