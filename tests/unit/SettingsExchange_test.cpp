// The settings dump: which of the tracker's lines are its records, and when a dump is whole.
#include "settings/SettingsExchange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedTracker.h"
#include "TrackerDump.h"
#include "settings/SettingsRecord.h"

namespace {

// The dump query goes out 100 ms after the set command.
constexpr uint32_t kFirstLineMs = 100 + ScriptedTracker::kReplyAfterMs;
constexpr uint32_t kLineGapMs = ScriptedTracker::kLineGapMs;

// A first record of exactly this many characters before its LF.
std::string FirstRecordOf(size_t chars) {
    return Record(1, 0, std::string(chars + 1 - Record(1, 0, "").size(), 'x'));
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
