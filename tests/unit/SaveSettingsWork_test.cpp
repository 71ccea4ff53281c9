// Page 4's work: the dump read and kept in the backup, or the backup left as it was.
#include "settings/SaveSettingsWork.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedTracker.h"
#include "TempFolder.h"
#include "ThreadLocale.h"
#include "TrackerDump.h"
#include "settings/BackupFile.h"

TEST(SaveSettings, OnlyAWholeDumpReplacesTheBackup) {
    struct Case {
        const char* what;
        bool canOpen;
        size_t records;  // of the two-record dump
        bool backupWritable;
        const wchar_t* log;  // after the bar's range
        Reply::How how = Reply::kRead;
        size_t chatterLines = 0;  // other output, each line with a record, as the set command's answer
        std::string payload = "TZ=+3,DST=0";
    };
    const wchar_t* const notWritten = L"at 1; at 255; Невозможно сохранить настройки! 17; ";
    const Case cases[] = {
        {"saved", true, 2, true, L"at 1; at 255; succeeded; "},
        {"port not open", false, 2, true, L"Невозможно открыть СОМ-порт! 17; "},
        {"no closing record", true, 1, true, L"at 1; Превышено время ожидания! 16; "},
        {"backup not writable", true, 2, false, notWritten},
        // In the Japanese code page NEC's copy of an IBM character comes back as IBM's.
        {"not carried back", true, 2, true, notWritten, Reply::kRead, 0, "TZ=\xED\x40"},
        // Told as each record ends, or as the line before it ends, with the record waiting.
        {"line errors", true, 2, true, L"Превышено время ожидания! 16; ", Reply::kLineError},
        {"line errors behind", true, 2, true, L"Превышено время ожидания! 16; ", Reply::kLineError, 4},
    };
    const ThreadLocale japanese(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));  // 932
    const std::vector<std::wstring> previous = {L"GSS,KestrelonKV-718,1,0,old*QQ!\r\n"};
    const std::vector<std::wstring> saved = {L"GSS,KestrelonKV-718,1,0,TZ=+3,DST=0*QQ!\r\n",
                                             L"GSS,KestrelonKV-718,2,1,*QQ!\r\n"};
    // The pair waits for the tracker's bridge to settle after the open.
    const Events pairAfterOpen = {"open", "write " + kOo, "write " + kL0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTracker tracker;
        TempFolder folder;
        const std::wstring backup = folder / L"back.pro";
        ASSERT_TRUE(SaveBackup(backup.c_str(), previous));
        tracker.canOpen = [open = c.canOpen] { return open; };
        tracker.replies[kL0] = {{Lines{Record(1, 0, c.payload), Record(2, 1, "")}, c.how}};
        tracker.replies[kOo] = {{Lines(c.chatterLines, "$GPRMC,000000,V*00\r\n")}};
        tracker.replies[kL0][0].lines.resize(c.records);
        // A file where the backup's folder should be: no backup can be created there.
        const std::wstring path = c.backupWritable ? backup : backup + L"\\back.pro";
        RecordingReport report;
        const bool succeeded = c.log == std::wstring(cases[0].log);
        EXPECT_EQ(succeeded ? 1 : 0, RunSaveSettingsWork(tracker, tracker.clock, report, path.c_str()));
        EXPECT_EQ(L"range 0..50; " + std::wstring(c.log), report.log);
        std::vector<std::wstring> kept;
        EXPECT_TRUE(LoadBackup(backup.c_str(), kept));
        EXPECT_EQ(succeeded ? saved : previous, kept);
        const Events& events = tracker.events;
        EXPECT_EQ(c.canOpen ? pairAfterOpen : Events{},
                  Whats(Events(events.begin(), events.begin() + std::min<size_t>(3, events.size()))));
        if (c.canOpen) {
            EXPECT_GE(At(events[1]) - At(events[0]), kBridgeSettleMs);
        }
    }
}
