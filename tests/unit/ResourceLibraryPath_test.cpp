// Where the optional resource library lies.
#include "app/ResourceLibraryPath.h"

#include <gtest/gtest.h>

#include <string>

TEST(ResourceLibraryPath, LibrarySitsBesideTheProgramWhenItsPathFits) {
    // "\chinese.dll" and the terminator take 13 of the 260 characters.
    const std::wstring longest = L"C:\\" + std::wstring(244, L'a');
    const struct {
        std::wstring program;
        std::wstring library;  // "-": none
    } kCases[] = {
        {L"C:\\Program Files\\KV\\KV_Firmware_Tool.exe", L"C:\\Program Files\\KV\\chinese.dll"},
        {longest + L"\\x.exe", longest + L"\\chinese.dll"},
        {longest + L"b\\x.exe", L"-"},
        {L"KV_Firmware_Tool.exe", L"-"},
        {L"", L"-"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.program);
        wchar_t path[kModulePathChars + 1];
        path[kModulePathChars] = L'#';  // just past what the function may fill
        const bool found =
            ResourceLibraryPath(c.program.c_str(), reinterpret_cast<wchar_t(&)[kModulePathChars]>(path));
        EXPECT_EQ(c.library, found ? std::wstring(path) : L"-");
        EXPECT_EQ(L'#', path[kModulePathChars]);
    }
}
