#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "settings/BackupFile.h"
#include "settings/SettingsExchange.h"
#include "settings/SettingsRecord.h"
#include "settings/SettingsWorkers.h"

namespace {

constexpr uint32_t kReadWaitMs = 100;  // the port's read time-out
constexpr uint32_t kLineGapMs = 50;
// The dump query goes out 100 ms after the set command; the tracker answers 10 ms later.
constexpr uint32_t kDumpDelayMs = 10;
constexpr uint32_t kFirstLineMs = 100 + kDumpDelayMs;

using Writes = std::vector<std::pair<uint32_t, std::string>>;
using Lines = std::vector<std::string>;
const Writes kPair = {{0, "GSS,KestrelonKV-718,3,0,OO=20*26!\r\n"}, {100, "GSC,KestrelonKV-718,L0*76!\r\n"}};

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

std::vector<std::wstring> Wide(const Lines& lines) {
    std::vector<std::wstring> wide;
    for (const std::string& line : lines)
        wide.emplace_back(line.begin(), line.end());
    return wide;
}

std::vector<std::wstring> CommandsFor(const Lines& records) {
    std::vector<std::wstring> commands = Wide(records);
    std::transform(commands.begin(), commands.end(), commands.begin(), RestoreCommandFor);
    return commands;
}

// The tracker's end of the command port on virtual time. It answers each dump query with the
// next scripted dump, a line every kLineGapMs; a read with nothing arriving takes the port's
// read time-out.
class ScriptedTracker : public CommandPort {
public:
    explicit ScriptedTracker(uint32_t startMs = 1000) : clock(startMs), origin_(startMs) {}

    bool Open() override {
        ++opensTried;
        return open_ = canOpen;
    }
    bool IsOpen() const override { return open_; }
    bool Write(const void* data, uint32_t size) override {
        EXPECT_TRUE(open_) << "write on a closed port";
        writes.push_back({Elapsed(), std::string(static_cast<const char*>(data), size)});
        if (writes.back().second == kPair[1].second && !dumps.empty()) {
            uint32_t atMs = Elapsed() + kDumpDelayMs;
            for (const std::string& line : dumps.front()) {
                for (char byte : line)
                    incoming_.emplace(atMs, byte);  // a line's bytes all at once
                atMs += kLineGapMs;
            }
            dumps.erase(dumps.begin());
        }
        return writes.size() != failingWrite;
    }
    uint32_t BytesWaiting() override { return 0; }
    bool Read(void* buffer, uint32_t, uint32_t* got) override {
        EXPECT_TRUE(open_) << "read on a closed port";
        const auto next = incoming_.begin();
        *got = next != incoming_.end() && next->first <= Elapsed() + kReadWaitMs ? 1 : 0;
        clock.Advance(*got ? std::max(next->first, Elapsed()) - Elapsed() : kReadWaitMs);
        if (*got) {
            *static_cast<char*>(buffer) = next->second;
            incoming_.erase(next);
        }
        return true;
    }
    void Close() override { open_ = false; }

    uint32_t Elapsed() { return clock.NowMs() - origin_; }

    FakeClock clock;
    bool canOpen = true;
    int opensTried = 0;
    std::vector<Lines> dumps;
    size_t failingWrite = 0;  // counted from 1; 0: none
    Writes writes;

private:
    const uint32_t origin_;
    bool open_ = false;
    std::multimap<uint32_t, char> incoming_;
};

// Reads the tracker's settings on a port opened for it; the port is closed afterwards.
bool ReadDump(ScriptedTracker& tracker, std::vector<std::wstring>& commands) {
    tracker.Open();
    const bool complete = ReadSettingsDump(tracker, tracker.clock, commands, [](uint8_t) {});
    EXPECT_FALSE(tracker.IsOpen());
    return complete;
}

// The worker's report as one text: "range 0..50; at 1; ...; succeeded; ".
class RecordingReport : public WorkerReport {
public:
    void ProgressRange(uint16_t lowest, uint16_t highest) override {
        log += L"range " + std::to_wstring(lowest) + L".." + std::to_wstring(highest) + L"; ";
    }
    void ProgressPosition(uint32_t position) override { log += L"at " + std::to_wstring(position) + L"; "; }
    void Succeeded() override { log += L"succeeded; "; }
    void Failed(const wchar_t* text, unsigned style) override {
        log += text + (L" " + std::to_wstring(style)) + L"; ";
    }
    std::wstring log;
};

// A backup of the test's own in the temporary folder, removed afterwards.
struct TestBackup {
    TestBackup() {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        path = temp + (L"kv-settings-test-" + std::to_wstring(::GetCurrentProcessId()) + L".pro");
    }
    ~TestBackup() { ::DeleteFileW(path.c_str()); }
    std::wstring path;
};

}  // namespace

// --- Reading the tracker's settings -------------------------------------------------------------

TEST(SettingsDump, RecordsAreKnownByShapeAndPlace) {
    struct Case {
        const char* what;
        Lines lines;
        std::vector<size_t> accepted;  // none: the dump ends at its first line
    };
    const std::string first = Record(1, 0), closing = Record(2, 1);
    const Case cases[] = {
        {"no CR before the LF", {"GSs,KV718-0042,1,0,A*5C!\n", first, closing}, {1, 2}},
        {"the tool's own word", {"GSS,KV718-0042,1,0,A*5C!\r\n", first, closing}, {1, 2}},
        {"checksum of three", {"GSs,KV718-0042,1,0,A*5C0!\r\n", first, closing}, {1, 2}},
        {"510 characters", {FirstRecordOf(510), first, closing}, {0, 2}},
        {"511 characters", {FirstRecordOf(511), first, closing}, {1, 2}},
        {"first found in the payload", {Record(9, 9, "A,1,0,B"), closing}, {0, 1}},
        {"a longer number", {first, Record(0, 10), closing}, {0, 2}},
        {"next found in the payload", {first, Record(7, 7, "A,0,1,B"), Record(2, 2)}, {0, 1, 2}},
        {"first is not the dump's first", {"GSs,KV718-0041,0,1,A*5C!\r\n", first, closing}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTracker tracker;
        tracker.dumps = {c.lines};
        std::vector<std::wstring> commands;
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
    tracker.dumps = {broken, whole};
    std::vector<std::wstring> commands;
    EXPECT_TRUE(ReadDump(tracker, commands));
    EXPECT_EQ(CommandsFor(whole), commands);
    // The last record was taken at 160 ms; the first line to start more than 10 s after it
    // brings the pair again.
    const uint32_t resentMs = 10210;
    Writes expected = kPair;
    expected.insert(expected.end(), {{resentMs, kPair[0].second}, {resentMs + 100, kPair[1].second}});
    EXPECT_EQ(expected, tracker.writes);
}

TEST(SettingsDump, SilentTrackerIsAskedOnceUntilTheLimit) {
    for (uint32_t start : {1000u, 0xFFFFF000u}) {
        SCOPED_TRACE("start tick " + std::to_string(start));
        ScriptedTracker tracker(start);
        std::vector<std::wstring> commands;
        EXPECT_FALSE(ReadDump(tracker, commands));
        EXPECT_EQ(kPair, tracker.writes);
        EXPECT_EQ(100u + 120000 + kReadWaitMs, tracker.Elapsed()) << "the first read past 120 s ends it";
    }
}

TEST(SettingsDump, DumpWithoutItsClosingRecordIsIncomplete) {
    ScriptedTracker tracker;
    Lines records = {Record(1, 0)};
    for (int number = 1; number < 254; ++number)
        records.push_back(Record(0, number));
    tracker.dumps = {records};
    std::vector<std::wstring> commands;
    EXPECT_FALSE(ReadDump(tracker, commands));
    EXPECT_EQ(254u, commands.size());
    EXPECT_EQ(254, g_recordCount);
}

// --- The save and restore pages' work -----------------------------------------------------------

TEST(SaveSettings, OnlyAWholeDumpReplacesTheBackup) {
    struct Case {
        const char* what;
        bool canOpen;
        size_t records;  // of the two-record dump
        bool backupWritable;
        const wchar_t* log;  // after the bar's range
    };
    const Case cases[] = {
        {"saved", true, 2, true, L"at 1; at 255; succeeded; "},
        {"port not open", false, 2, true, L"Невозможно открыть СОМ-порт! 17; "},
        {"no closing record", true, 1, true, L"at 1; Превышено время ожидания! 16; "},
        {"backup not writable", true, 2, false, L"at 1; at 255; Невозможно сохранить настройки! 17; "},
    };
    const std::vector<std::wstring> previous = {L"GSS,KestrelonKV-718,1,0,old*QQ!\r\n"};
    const std::vector<std::wstring> saved = {L"GSS,KestrelonKV-718,1,0,TZ=+3,DST=0*QQ!\r\n",
                                             L"GSS,KestrelonKV-718,2,1,*QQ!\r\n"};
    // The pair waits for the tracker's port to settle after the open.
    const Writes pairAfterOpen = {{1000, kPair[0].second}, {1100, kPair[1].second}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTracker tracker;
        TestBackup backup;
        ASSERT_TRUE(SaveBackup(backup.path.c_str(), previous));
        tracker.canOpen = c.canOpen;
        tracker.dumps = {Lines{Record(1, 0), Record(2, 1, "")}};
        tracker.dumps[0].resize(c.records);
        // A file where the backup's folder should be: no backup can be created there.
        const std::wstring path = c.backupWritable ? backup.path : backup.path + L"\\back.pro";
        RecordingReport report;
        const bool succeeded = c.log == std::wstring(cases[0].log);
        EXPECT_EQ(succeeded ? 1 : 0, RunSaveSettings(tracker, tracker.clock, report, path.c_str()));
        EXPECT_EQ(L"range 0..50; " + std::wstring(c.log), report.log);
        std::vector<std::wstring> kept;
        EXPECT_TRUE(LoadBackup(backup.path.c_str(), kept));
        EXPECT_EQ(succeeded ? saved : previous, kept);
        EXPECT_EQ(c.canOpen ? pairAfterOpen : Writes{}, tracker.writes);
        EXPECT_FALSE(tracker.IsOpen());
    }
}

TEST(RestoreSettings, EveryLineGoesOutWholeASecondApart) {
    struct Case {
        const char* what;
        Lines backup;
        size_t failingWrite;  // counted from 1; 0: none
        Writes writes;
    };
    const std::string a = CommandOf(30), b = CommandOf(40), c = CommandOf(50);
    const std::string longest = CommandOf(1024), tooLong = CommandOf(1025);
    const Case cases[] = {
        {"all sent", {a, longest, c}, 0, {{0, a}, {1000, longest}, {2000, c}}},
        {"write fails", {a, b, c}, 2, {{0, a}, {1000, b}, {1000, c}}},
        {"command too long", {a, tooLong, c}, 0, {{0, a}, {1000, c}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        ScriptedTracker tracker;
        TestBackup backup;
        ASSERT_TRUE(SaveBackup(backup.path.c_str(), Wide(row.backup)));
        tracker.failingWrite = row.failingWrite;
        RecordingReport report;
        EXPECT_EQ(1, RunRestoreSettings(tracker, tracker.clock, report, backup.path.c_str()));
        const bool allSent = row.writes.size() == 3 && row.failingWrite == 0;
        EXPECT_EQ(std::wstring(L"range 0..2; at 1; ") +
                      (allSent ? L"" : L"Невозможно сохранить данные! 17; ") + L"at 2; at 3; succeeded; ",
                  report.log);
        EXPECT_EQ(row.writes, tracker.writes);
        EXPECT_FALSE(tracker.IsOpen());
    }
}

TEST(RestoreSettings, NothingIsSentWithoutBackupOrPort) {
    struct Case {
        const char* what;
        bool saved;
        std::vector<std::wstring> backup;
        bool canOpen;
        const wchar_t* log;
    };
    const Case cases[] = {
        {"no backup", false, {}, true, L"Невозможно открыть настройки! 16; "},
        {"backup without a line", true, {}, true, L"Невозможно открыть настройки! 16; "},
        {"port not open", true, Wide({CommandOf(30)}), false,
         L"range 0..0; Невозможно открыть СОМ-порт! 17; "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedTracker tracker;
        TestBackup backup;
        if (c.saved) {
            ASSERT_TRUE(SaveBackup(backup.path.c_str(), c.backup));
        }
        tracker.canOpen = c.canOpen;
        RecordingReport report;
        EXPECT_EQ(0, RunRestoreSettings(tracker, tracker.clock, report, backup.path.c_str()));
        EXPECT_EQ(c.log, report.log);
        EXPECT_EQ(c.backup.empty() ? 0 : 1, tracker.opensTried)
            << "the port is opened only for a line to send";
        EXPECT_TRUE(tracker.writes.empty());
    }
}
