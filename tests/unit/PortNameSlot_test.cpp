// The slot that hands the tracker's port name from discovery to the workers.
#include "link/PortNameSlot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>

namespace {

// The program's slot is a namespace-scope static that another static's constructor may use, so
// it must be constant-initialised: this fails to build if the slot ever needs start-up code.
[[maybe_unused]] constexpr PortNameSlot kNeedsNoStartUpCode;

std::wstring Read(const PortNameSlot& slot) {
    wchar_t name[kMaxPortNameChars + 1];
    slot.Get(name);
    return name;
}

}  // namespace

TEST(PortNameSlot, HoldsTheLastNameThatFits) {
    PortNameSlot slot;
    EXPECT_TRUE(slot.Set(L"COM123456"));
    EXPECT_TRUE(slot.Set(L"COM3"));
    EXPECT_FALSE(slot.Set(L"COM1234567"));
    EXPECT_FALSE(slot.Set(nullptr));
    EXPECT_EQ(L"COM3", Read(slot));
    EXPECT_TRUE(slot.Set(L""));
    EXPECT_EQ(L"", Read(slot));
}

// Discovery rewrites the name on the UI thread while a worker reads it to open the port; the
// worker must only ever see one of the names written. Reading goes on until a million reads
// have overlapped a million writes, so that the two threads really ran side by side.
TEST(PortNameSlot, ReaderNeverSeesAHalfWrittenName) {
    PortNameSlot slot;
    const wchar_t* const names[] = {L"AAAAAAAAA", L"BBBBBBBBB"};
    slot.Set(names[0]);
    std::atomic<long> writes{0};
    std::atomic<bool> reading{true};
    std::thread writer([&] {
        for (long i = 0; reading; ++i) {
            slot.Set(names[i % 2]);
            writes.store(i + 1, std::memory_order_relaxed);
        }
    });
    long reads = 0;
    long torn = 0;
    std::wstring firstTorn;
    for (; reads < 1000000 || writes.load(std::memory_order_relaxed) < 1000000; ++reads) {
        wchar_t seen[kMaxPortNameChars + 1];
        slot.Get(seen);
        if (std::wcscmp(seen, names[0]) != 0 && std::wcscmp(seen, names[1]) != 0 && torn++ == 0)
            firstTorn = seen;
    }
    reading = false;
    writer.join();
    EXPECT_EQ(0, torn) << "of " << reads << " reads; the first torn one: " << firstTorn;
}
