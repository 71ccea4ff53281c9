#include "settings/BackupFile.h"
#include "settings/StdioFileEx.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TempFolder.h"
#include "ThreadLocale.h"

namespace {

using Lines = std::vector<std::wstring>;

std::string Bytes(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(Backup, ReadsBackEveryLineAsWritten) {
    const Lines cases[] = {
        {L"GSS,KestrelonKV-718,1,0,ab*QQ!\r\n", L"GSS,KestrelonKV-718,2,1,Ж一*QQ!\r\n"},
        {std::wstring(126, L'x') + L"\r\n", L"y\r\n"},  // the first step ends exactly on its LF
        {std::wstring(300, L'z') + L"\r\n", L"no line end"},
    };
    TempFolder folder;
    const std::wstring deep = folder / std::wstring(240, L'd');  // a path longer than MAX_PATH
    ::CreateDirectoryW(deep.c_str(), nullptr);
    const std::wstring backup = deep + L"\\back.pro";
    for (const Lines& written : cases) {
        SCOPED_TRACE(written.front().substr(0, 40));
        Lines read{L"stale"};
        ASSERT_TRUE(SaveBackup(backup.c_str(), written));
        ASSERT_TRUE(LoadBackup(backup.c_str(), read));
        EXPECT_EQ(written, read);
    }
    ::DeleteFileW(backup.c_str());
}

TEST(Backup, FilesWithoutTheMarkAreTextOfTheThreadCodePage) {
    const ThreadLocale russian(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));  // 1251
    const struct {
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"A", {L"A"}},
        {"\xFE\xFF\xC6\r\n", {L"юяЖ\n"}},  // a big-endian mark is no mark
        {"ab\r\n\r\r\ncd\r\n", {L"ab\n", L"cd\n"}},
        {"ab\r\r\n", {L"ab"}},
        {std::string(200, 'x') + "\r\nz", {std::wstring(200, L'x') + L"\n", L"z"}},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 12));
        Lines read{L"stale"};
        ASSERT_TRUE(LoadBackup(folder.Put(L"back.pro", c.bytes).c_str(), read));
        EXPECT_EQ(c.lines, read);
    }
    Lines read;
    EXPECT_FALSE(LoadBackup((folder / L"missing.pro").c_str(), read));
}

TEST(Backup, PreviousSaveSurvivesAFailedOne) {
    const std::wstring temporary = L"back.pro." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const struct {
        const char* what;
        bool squat, hold, saved;
    } cases[] = {
        {"completed", false, false, true},
        {"a folder where the new file goes", true, false, false},
        {"the backup held open by another program", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::wstring backup = folder.Put(L"back.pro", "old");
        for (const wchar_t* name : {L"back.pro.77.tmp", L"back.pro.x.tmp", L"keep.tmp"})
            folder.Put(name, "leftover");
        if (c.squat)
            ::CreateDirectoryW((folder / temporary).c_str(), nullptr);
        HANDLE holder = c.hold ? ::CreateFileW(backup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        EXPECT_EQ(c.saved, SaveBackup(backup.c_str(), {L"A\r\n", L"Ж\r\n"}));
        ::CloseHandle(holder);
        // The mark once, then each line's UTF-16LE code units as given.
        EXPECT_EQ(c.saved ? std::string("\377\376A\0\r\0\n\0\026\004\r\0\n\0", 14) : "old", Bytes(backup));
        if (c.saved) {
            EXPECT_EQ("old", Bytes(folder / L"back.pro.bak")) << "the backup before is kept";
        }
        EXPECT_EQ(std::vector<std::wstring>{}, folder.Names(L"back.pro.*.tmp", false));
        EXPECT_EQ(std::vector<std::wstring>{L"keep.tmp"}, folder.Names(L"keep.tmp"));
    }
}

TEST(Backup, PathIsInTheTemporaryFolderOrNoneWhenItWouldNotFit) {
    wchar_t saved[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    const struct {
        std::wstring folder;
        const wchar_t* path;  // null: none
    } cases[] = {
        {L"C:\\kv", L"C:\\kv\\\\back.pro"},            // the folder's own backslash, then the name's
        {L"C:\\" + std::wstring(400, L'd'), nullptr},  // longer than Windows gives a folder
    };
    for (const auto& c : cases) {
        ::SetEnvironmentVariableW(L"TMP", c.folder.c_str());
        wchar_t path[kBackupPathChars] = L"stale";
        EXPECT_EQ(c.path != nullptr, BackupPath(path)) << c.folder.size();
        if (c.path != nullptr) {
            EXPECT_STREQ(c.path, path);
        }
    }
    ::SetEnvironmentVariableW(L"TMP", saved);
}

TEST(StdioFileEx, NullTextIsAnInvalidArgument) {
    TempFolder folder;
    CStdioFileEx file;
    ASSERT_TRUE(file.Open((folder / L"back.pro").c_str(), 0x105001));
    EXPECT_THROW(file.WriteString(nullptr), CInvalidArgException*);
}

}  // namespace
