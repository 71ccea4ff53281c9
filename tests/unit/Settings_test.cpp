#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ScriptedTracker.h"
#include "TempFolder.h"
#include "ThreadLocale.h"
#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"
#include "settings/SettingsRecord.h"
#include "settings/RestoreSettingsWork.h"
#include "settings/SaveSettingsWork.h"

namespace {

using Lines = std::vector<std::string>;
const std::string kOo = "GSS,KestrelonKV-718,3,0,OO=20*26!\r\n", kL0 = "GSC,KestrelonKV-718,L0*76!\r\n";
// The dump query goes out 100 ms after the set command.
constexpr uint32_t kFirstLineMs = 100 + ScriptedTracker::kReplyAfterMs;
constexpr uint32_t kLineGapMs = ScriptedTracker::kLineGapMs;

std::string Record(int kind, int number, const std::string& payload = "TZ=+3,DST=0") {
    return "GSs,KV718-0040," + std::to_string(kind) + "," + std::to_string(number) + "," + payload +
           "*5C!\r\n";
}

// A first record of exactly this many characters before its LF.
std::string FirstRecordOf(size_t chars) {
    return Record(1, 0, std::string(chars + 1 - Record(1, 0, "").size(), 'x'));
}

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

Lines CommandsFor(const Lines& records) {
    Lines commands;
    for (const std::string& record : records)
        commands.push_back(RestoreCommandFor(record.substr(0, record.size() - 1)));  // before its LF
    return commands;
}

bool ReadDump(ScriptedTracker& tracker, Lines& commands) {
    tracker.Open();
    const bool complete = ReadSettingsDump(tracker, tracker.clock, commands, [](uint8_t) {});
    EXPECT_FALSE(tracker.IsOpen());
    return complete;
}

}  // namespace

TEST(SettingsDump, OnlyRecordsInTheirPlaceAreKept) {
    struct Case {
        const char* what;
        Lines lines;
        std::vector<size_t> accepted;  // none: the dump ends at its first line
    };
    const std::string first = Record(1, 0), closing = Record(2, 1);
    const Case cases[] = {
        {"510 characters", {FirstRecordOf(510), first, closing}, {0, 2}},
        {"511 characters", {FirstRecordOf(511), first, closing}, {1, 2}},
        {"dropped up to its LF", {std::string(512, 'x') + Record(1, 0, "A"), first, closing}, {1, 2}},
        {"first is not the dump's first", {"GSs,KV718-0041,0,1,A*5C!\r\n", first, closing}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTracker tracker;
        tracker.replies[kL0] = {{c.lines}};
        Lines commands;
        EXPECT_EQ(!c.accepted.empty(), ReadDump(tracker, commands));
        Lines accepted;
        for (size_t at : c.accepted)
            accepted.push_back(c.lines[at]);
        EXPECT_EQ(CommandsFor(accepted), commands);
        const size_t lastLine = c.accepted.empty() ? 0 : c.lines.size() - 1;
        EXPECT_EQ(kFirstLineMs + kLineGapMs * lastLine, tracker.Elapsed())
            << "ends with the line that ends it";
    }
}

TEST(SettingsDump, LostRecordIsFetchedWithTheWholeDumpAgain) {
    ScriptedTracker tracker;
    const Lines whole = {Record(1, 0), Record(0, 1), Record(0, 2), Record(0, 3), Record(2, 4)};
    Lines broken = {whole[0], whole[1], whole[3], whole[4]};
    broken.resize(240, "$GPRMC,000000,V*00\r\n");  // the tracker's other chatter goes on
    tracker.replies[kL0] = {{broken}, {whole}};
    Lines commands;
    EXPECT_TRUE(ReadDump(tracker, commands));
    EXPECT_EQ(CommandsFor(whole), commands);
    // Once 10 s have passed without a record the pair goes again, and the whole dump follows.
    const Events& events = tracker.events;
    ASSERT_EQ((Events{"open", "write " + kOo, "write " + kL0, "write " + kOo, "write " + kL0, "close"}),
              Whats(events));
    const uint32_t lastRecordMs = kFirstLineMs + kLineGapMs;  // the second line, the last in its place
    EXPECT_GT(At(events[3]) - lastRecordMs, 10000u);
}

TEST(SettingsDump, DumpWithoutItsClosingRecordIsNeverWhole) {
    // However many records came: 254 of them bring the counter to where the closing one sets it.
    Lines records = {Record(1, 0)};
    for (int number = 1; number < 254; ++number)
        records.push_back(Record(0, number));
    ScriptedTracker tracker;
    tracker.replies[kL0] = {{records}};
    Lines commands;
    EXPECT_FALSE(ReadDump(tracker, commands));
    EXPECT_EQ(254u, commands.size());
}

TEST(SettingsDump, PortThatGoesEndsTheDumpAtOnce) {
    ScriptedTracker tracker;
    tracker.replies[kL0] = {{{Record(1, 0), Record(0, 1), Record(0, 2), Record(2, 3)}}};
    tracker.goneFromMs = kFirstLineMs + kLineGapMs;  // the cable comes out after the first record
    Lines commands;
    EXPECT_FALSE(ReadDump(tracker, commands));
    // Not at the dump's 120 s limit, nor at its 10 s resend: right after the cable came out.
    EXPECT_EQ("close", What(tracker.events.back()));
    EXPECT_LT(At(tracker.events.back()), tracker.goneFromMs + 100);
}

TEST(SettingsDump, LineThatNeverEndsEndsAtTheLimit) {
    ScriptedTracker tracker;
    tracker.replies[kL0] = {{Lines(2600, "GSs,")}};  // 130 s of text and never an LF
    Lines commands;
    EXPECT_FALSE(ReadDump(tracker, commands));
    EXPECT_LE(At(tracker.events.back()), 120000u + kFirstLineMs + kLineGapMs);
}

TEST(SettingsDump, SilentTrackerIsAskedOnceUntilTheLimit) {
    for (uint32_t start : {1000u, 0xFFFFF000u}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        ScriptedTracker tracker(start);
        Lines commands;
        EXPECT_FALSE(ReadDump(tracker, commands));
        EXPECT_EQ((Events{"open", "write " + kOo, "write " + kL0, "close"}), Whats(tracker.events));
        EXPECT_GT(At(tracker.events.back()), 120000u);
        EXPECT_LE(At(tracker.events.back()), 120000u + 2 * ScriptedTracker::kReadWaitMs)
            << "the first read past 120 s ends it";
    }
}

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
