// Which lines from the tracker are settings records, and where a record falls in the dump.
#include "settings/SettingsRecord.h"

#include <gtest/gtest.h>

#include <string>

TEST(SettingsRecord, ShapeIsTheWordAndTheTail) {
    const struct {
        std::string line;  // before its LF
        bool record;
    } kCases[] = {
        {"GSs,KV718-0042,1,0,A*5C!\r", true},
        {"GSs,KV718-0042,1,0,\tЖ\xE9*5C!\r", true},  // TAB, and letters of any code page
        {"GSs*5C!\r", true},
        {std::string("GSs,KV718-0042,1,0,A\0B*5C!\r", 27), false},  // a glitch on the line
        {"GSs,KV718-0042,1,0,A\x1B*5C!\r", false},
        {"GSs,KV718-0042,1,0,A*5C!\x01", false},
        {"GSs,KV718-0042,1,0,A*5C!", false},     // no CR before the LF
        {"GSS,KV718-0042,1,0,A*5C!\r", false},   // the tool's own word
        {"GSs,KV718-0042,1,0,A*5C0!\r", false},  // checksum of three
        {"*5C!\r", false},
        {"GSs", false},
        {"", false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.record, IsSettingsRecord(c.line.data(), c.line.size())) << c.line;
}

// Kind and number are read from their own fields, never from the payload.
TEST(SettingsRecord, PlaceIsFoundByTheKindAndNumberFields) {
    const struct {
        std::string record;
        uint8_t accepted;
        RecordPlace place;
    } kCases[] = {
        {"GSs,KV718-0040,1,0,TZ=+3*5C!\r", 0, RecordPlace::kNext},
        {"GSs,KV718-0040,9,9,A,1,0,B*5C!\r", 0, RecordPlace::kWrongStart},
        {"GSs,KV718-0041,0,1,A*5C!\r", 0, RecordPlace::kWrongStart},
        {"GSs,KV718-0040,0,1,A*5C!\r", 1, RecordPlace::kNext},
        {"GSs,KV718-0040,7,7,A,0,1,B*5C!\r", 1, RecordPlace::kElsewhere},
        {"GSs,KV718-0040,0,5,A,2,1,B*5C!\r", 1, RecordPlace::kElsewhere},
        {"GSs,KV718-0040,0,10,A*5C!\r", 1, RecordPlace::kElsewhere},
        {"GSs,KV718-0040,2,2,*5C!\r", 2, RecordPlace::kLast},
        {"GSs,KV718-0040,2,254,*5C!\r", 254, RecordPlace::kLast},
        {"GSs,KV718-0040,1,0,A*5C!\r", 3, RecordPlace::kElsewhere},
        {"GSs*5C!\r", 0, RecordPlace::kWrongStart},  // no fields at all
        {"GSs,KV718-0040,0*5C!\r", 1, RecordPlace::kElsewhere},
        {"X,KV718-0040,0,1,A*5C!\r", 1, RecordPlace::kElsewhere},  // fields, but no record word
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.place, PlaceOfRecord(c.record, c.accepted)) << c.record << " after " << int{c.accepted};
}

// The command is the record from its kind on, without the status text before the record word.
TEST(SettingsRecord, RestoreCommandIsTheRecordFromItsKind) {
    EXPECT_EQ("GSS,KestrelonKV-718,0,5,A,B*QQ!\r\n",
              RestoreCommandFor("GSS,x,2,GSs,KV718-0040,0,5,A,B*5C!\r"));
}
