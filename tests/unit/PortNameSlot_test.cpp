#include "link/PortNameSlot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

// Like the program's own slot: a namespace-scope static, usable without any start-up code.
PortNameSlot g_staticSlot;

std::wstring Read(const PortNameSlot& slot) {
    wchar_t name[PortNameSlot::kMaxChars + 1];
    slot.Get(name);
    return name;
}

}  // namespace

TEST(PortNameSlot, StartsEmpty) {
    EXPECT_TRUE(g_staticSlot.IsEmpty());
    EXPECT_EQ(L"", Read(g_staticSlot));
}

TEST(PortNameSlot, KeepsLastNameSetAndEmptiesOnClear) {
    PortNameSlot slot;
    ASSERT_TRUE(slot.Set(L"COM123456"));
    ASSERT_TRUE(slot.Set(L"COM3"));
    EXPECT_EQ(L"COM3", Read(slot));
    EXPECT_FALSE(slot.IsEmpty());

    slot.Clear();
    EXPECT_EQ(L"", Read(slot));
    EXPECT_TRUE(slot.IsEmpty());

    ASSERT_TRUE(slot.Set(L"COM7"));
    ASSERT_TRUE(slot.Set(L""));
    EXPECT_TRUE(slot.IsEmpty());
}

TEST(PortNameSlot, RefusesNameLongerThanNineAndKeepsOldOne) {
    PortNameSlot slot;
    ASSERT_TRUE(slot.Set(L"COM7"));
    EXPECT_FALSE(slot.Set(L"COM1234567"));
    EXPECT_FALSE(slot.Set(L"a much longer device name"));
    EXPECT_FALSE(slot.Set(nullptr));
    EXPECT_EQ(L"COM7", Read(slot));
}

// Discovery rewrites the name on the UI thread while a worker reads it to open the port; the
// worker must only ever see one of the names written, or none.
TEST(PortNameSlot, ReaderNeverSeesHalfWrittenName) {
    PortNameSlot slot;
    const wchar_t* const names[] = {L"COM1", L"ABCDEFGHI", L"", L"XYZ"};
    constexpr int kWrites = 50000;
    std::atomic<bool> writing{true};

    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i) {
            if (i % 5 == 4) {
                slot.Clear();
            } else {
                slot.Set(names[i % 4]);
            }
        }
        writing = false;
    });

    int reads = 0;
    int torn = 0;
    std::wstring firstTorn;
    while (writing || reads == 0) {
        const std::wstring seen = Read(slot);
        ++reads;
        const bool valid = seen == names[0] || seen == names[1] || seen == names[2] || seen == names[3];
        if (!valid && torn++ == 0) {
            firstTorn = seen;
        }
    }
    writer.join();

    EXPECT_EQ(0, torn) << "of " << reads << " reads; first torn one: \""
                       << std::string(firstTorn.begin(), firstTorn.end()) << "\"";
}
