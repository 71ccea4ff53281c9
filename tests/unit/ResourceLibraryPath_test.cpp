#include "app/ResourceLibraryPath.h"

#include <gtest/gtest.h>

#include <string>

TEST(ResourceLibraryPath, SitsBesideTheProgram) {
    wchar_t path[kModulePathChars];
    ASSERT_TRUE(ResourceLibraryPath(L"C:\\Program Files\\KV\\KV_Firmware_Tool.exe", path));
    EXPECT_EQ(std::wstring(path), L"C:\\Program Files\\KV\\chinese.dll");
}

TEST(ResourceLibraryPath, NoFolderLoadsNothing) {
    wchar_t path[kModulePathChars];
    EXPECT_FALSE(ResourceLibraryPath(L"KV_Firmware_Tool.exe", path));
    EXPECT_FALSE(ResourceLibraryPath(L"", path));
}

TEST(ResourceLibraryPath, FolderTooLongForTheLibraryNameLoadsNothing) {
    // "\chinese.dll" and the terminator take 13 of the 260 characters.
    const std::wstring longest = L"C:\\" + std::wstring(244, L'a');
    ASSERT_EQ(longest.size(), 247u);
    wchar_t path[kModulePathChars + 8];
    path[kModulePathChars] = L'#';  // a guard just past the buffer the function may fill

    auto& fits = reinterpret_cast<wchar_t(&)[kModulePathChars]>(path);
    ASSERT_TRUE(ResourceLibraryPath((longest + L"\\x.exe").c_str(), fits));
    EXPECT_EQ(std::wstring(path), longest + L"\\chinese.dll");
    EXPECT_EQ(path[kModulePathChars], L'#');

    EXPECT_FALSE(ResourceLibraryPath((longest + L"b\\x.exe").c_str(), fits));
    EXPECT_EQ(path[kModulePathChars], L'#');
}
