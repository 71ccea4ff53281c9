// The settings backup: its file, its generations and where it is kept.
#include "settings/BackupFile.h"

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

TEST(BackupFile, ReadsBackEveryLineAsWritten) {
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
}

TEST(BackupFile, FilesWithoutTheMarkAreTextOfTheThreadCodePage) {
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
}

TEST(BackupFile, PreviousSaveSurvivesAFailedOne) {
    const std::wstring temporary = L"back.pro." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const struct {
        const char* what;
        const wchar_t* squat;  // a folder of this name
        const wchar_t* path;   // relative to the folder, the current one; null: its back.pro
        std::wstring command;
        bool saved, refused;  // refused: before anything is touched
    } cases[] = {
        {"completed", nullptr, nullptr, L"Ж\r\n", true, false},
        {"a folder where the new file goes", temporary.c_str(), nullptr, L"Ж\r\n", false, false},
        {"a folder where the previous backup goes", L"back.pro.bak", nullptr, L"Ж\r\n", false, false},
        {"a command holding a NUL", nullptr, nullptr, std::wstring(L"A\0B\r\n", 5), false, true},
        {"a relative path", nullptr, L"back.pro", L"Ж\r\n", false, true},
        {"no path", nullptr, L"", L"Ж\r\n", false, true},
    };
    // Leftovers of a save cut short, and a file that is no backup's.
    const wchar_t* const leftovers[] = {L"back.pro.77.tmp", L"back.pro.x.tmp", L".x.tmp"};
    wchar_t started[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, started);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        ::SetCurrentDirectoryW((folder / L"").c_str());
        const std::wstring backup = folder.Put(L"back.pro", "old");
        for (const wchar_t* name : leftovers)
            folder.Put(name, "leftover");
        if (c.squat != nullptr)
            ::CreateDirectoryW((folder / c.squat).c_str(), nullptr);
        const wchar_t* path = c.path != nullptr ? c.path : backup.c_str();
        EXPECT_EQ(c.saved, SaveBackup(path, {L"A\r\n", c.command}));
        // The mark once, then each line's UTF-16LE code units as given.
        EXPECT_EQ(c.saved ? std::string("\377\376A\0\r\0\n\0\026\004\r\0\n\0", 14) : "old", Bytes(backup));
        for (const wchar_t* name : leftovers)
            EXPECT_EQ(c.refused || name == leftovers[2] ? "leftover" : "", Bytes(folder / name)) << name;
        EXPECT_EQ("", Bytes(folder / temporary)) << "the save's own";
        Lines read;
        EXPECT_EQ(c.path == nullptr, LoadBackup(path, read));
        ::SetCurrentDirectoryW(started);
    }
}

// Restores that did not happen: the user's settings U, then the upgraded tracker's factory
// settings F saved again and again.
TEST(BackupFile, UserSettingsOutliveRepeatedSaves) {
    const struct {
        Lines saves;
        size_t heldTries;  // of the last save, failed while another program holds back.pro
        Lines kept;        // back.pro, then each generation from the newest; "-": none
    } cases[] = {
        {{L"U", L"F", L"F"}, 0, {L"F", L"U", L"-", L"-"}},
        {{L"U", L"F", L"F", L"F'"}, 0, {L"F'", L"F", L"U", L"-"}},
        {{L"C", L"B", L"A", L"U", L"F"}, 2, {L"F", L"U", L"A", L"B"}},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const std::wstring backup = folder / L"back.pro";
        for (const std::wstring& settings : c.saves) {
            for (size_t tries = &settings == &c.saves.back() ? c.heldTries : 0; tries > 0; --tries) {
                const HANDLE holder = ::CreateFileW(backup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, 0, nullptr);
                EXPECT_FALSE(SaveBackup(backup.c_str(), {settings}));
                ::CloseHandle(holder);
            }
            ASSERT_TRUE(SaveBackup(backup.c_str(), {settings}));
        }
        Lines kept;
        for (const wchar_t* name : {L"", L".bak", L".bak2", L".bak3"}) {
            Lines read;
            kept.push_back(LoadBackup((backup + name).c_str(), read) ? read.at(0) : L"-");
        }
        EXPECT_EQ(c.kept, kept);
    }
}

TEST(BackupFile, PathIsInTheTemporaryFolderOrNoneWhenItWouldNotFit) {
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

}  // namespace
