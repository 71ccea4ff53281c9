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
        {"GSs*5C!\r", true},
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
        const wchar_t* record;
        uint8_t accepted;
        RecordPlace place;
    } kCases[] = {
        {L"GSs,KV718-0040,1,0,TZ=+3*5C!\r\n", 0, RecordPlace::kNext},
        {L"GSs,KV718-0040,9,9,A,1,0,B*5C!\r\n", 0, RecordPlace::kWrongStart},
        {L"GSs,KV718-0041,0,1,A*5C!\r\n", 0, RecordPlace::kWrongStart},
        {L"GSs,KV718-0040,0,1,A*5C!\r\n", 1, RecordPlace::kNext},
        {L"GSs,KV718-0040,7,7,A,0,1,B*5C!\r\n", 1, RecordPlace::kElsewhere},
        {L"GSs,KV718-0040,0,5,A,2,1,B*5C!\r\n", 1, RecordPlace::kElsewhere},
        {L"GSs,KV718-0040,0,10,A*5C!\r\n", 1, RecordPlace::kElsewhere},
        {L"GSs,KV718-0040,2,2,*5C!\r\n", 2, RecordPlace::kLast},
        {L"GSs,KV718-0040,2,254,*5C!\r\n", 254, RecordPlace::kLast},
        {L"GSs,KV718-0040,1,0,A*5C!\r\n", 3, RecordPlace::kElsewhere},
        {L"GSs*5C!\r\n", 0, RecordPlace::kWrongStart},  // no fields at all
        {L"GSs,KV718-0040,0*5C!\r\n", 1, RecordPlace::kElsewhere},
        {L"X,KV718-0040,0,1,A*5C!\r\n", 1, RecordPlace::kElsewhere},  // fields, but no record word
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.place, PlaceOfRecord(c.record, c.accepted)) << c.record << " after " << int{c.accepted};
}
