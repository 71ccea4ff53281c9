// Page 8's work: the backup's lines back to the tracker, one at a time.
#include "settings/RestoreSettingsWork.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedTracker.h"
#include "TempFolder.h"
#include "ThreadLocale.h"
#include "TrackerDump.h"
#include "settings/BackupFile.h"

namespace {

// A restore command of exactly this many characters.
std::string CommandOf(size_t chars) {
    const std::string frame = "GSS,KestrelonKV-718,0,1,*QQ!\r\n";
    return frame.substr(0, 24) + std::string(chars - frame.size(), 'x') + frame.substr(24);
}

// The lines, written here in UTF-8, as wide text.
std::vector<std::wstring> Wide(const Lines& lines) {
    std::vector<std::wstring> wide;
    for (const std::string& line : lines) {
        const int size = static_cast<int>(line.size());
        const int units = ::MultiByteToWideChar(CP_UTF8, 0, line.data(), size, nullptr, 0);
        wide.emplace_back(static_cast<size_t>(units), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, line.data(), size, &wide.back()[0], units);
    }
    return wide;
}

}  // namespace

TEST(RestoreSettings, LinesGoOutWholeASecondApartWhenThereIsABackupAndAPort) {
    struct Case {
        const char* what;
        bool saved;
        Lines backup;
        bool canOpen;
        size_t failingWrite;  // from this write on, counted from 1; 0: none
        Events events;
        const wchar_t* log;
    };
    const std::string a = CommandOf(30), b = CommandOf(40), c = CommandOf(50);
    const std::string longest = CommandOf(1024), tooLong = CommandOf(1025);
    const wchar_t* const noBackup = L"Невозможно открыть настройки! 16; ";
    const Case cases[] = {
        {"all sent",
         true,
         {a, longest, c},
         true,
         0,
         {"0 open", "0 write " + a, "1000 write " + longest, "2000 write " + c, "3000 close"},
         L"range 0..2; at 1; at 2; at 3; succeeded; "},
        // A line that did not go out fails the restore, even if the user lets the rest go on.
        {"writes fail",
         true,
         {a, b, c},
         true,
         2,
         {"0 open", "0 write " + a, "1000 write " + b, "1000 write " + c, "1000 close"},
         L"range 0..2; at 1; Невозможно сохранить данные! 17; at 2; Невозможно сохранить данные! 17; at 3; "
         L"Невозможно сохранить данные! 16; "},
        {"command too long",
         true,
         {a, tooLong, c},
         true,
         0,
         {"0 open", "0 write " + a, "1000 write " + c, "2000 close"},
         L"range 0..2; at 1; Невозможно сохранить данные! 17; at 2; at 3; Невозможно сохранить данные! 16; "},
        // Narrowed with the code page the settings were widened with (Greek here, unlike the
        // system's), and only when every character has its byte there.
        {"greek settings",
         true,
         {"GSS,KestrelonKV-718,0,1,Ωμ*QQ!\r\n", "GSS,KestrelonKV-718,0,2,Ж*QQ!\r\n"},
         true,
         0,
         {"0 open", "0 write GSS,KestrelonKV-718,0,1,\xD9\xEC*QQ!\r\n", "1000 close"},
         L"range 0..1; at 1; Невозможно сохранить данные! 17; at 2; Невозможно сохранить данные! 16; "},
        // The port is opened only for a line to send.
        {"no backup", false, {}, true, 0, {}, noBackup},
        {"backup without a line", true, {}, true, 0, {}, noBackup},
        {"port not open", true, {a}, false, 0, {}, L"range 0..0; Невозможно открыть СОМ-порт! 17; "},
    };
    const ThreadLocale greek(MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT));  // 1253
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        ScriptedTracker tracker;
        TempFolder folder;
        const std::wstring backup = folder / L"back.pro";
        if (row.saved) {
            ASSERT_TRUE(SaveBackup(backup.c_str(), Wide(row.backup)));
        }
        tracker.canOpen = [open = row.canOpen] { return open; };
        tracker.failingWrite = row.failingWrite;
        RecordingReport report;
        const bool succeeded = std::wstring(row.log).find(L"succeeded") != std::wstring::npos;
        EXPECT_EQ(succeeded ? 1 : 0, RunRestoreSettingsWork(tracker, tracker.clock, report, backup.c_str()));
        EXPECT_EQ(row.log, report.log);
        EXPECT_EQ(row.events, tracker.events);
        EXPECT_EQ(row.canOpen ? 0 : 1, tracker.failedOpens);
    }
}
