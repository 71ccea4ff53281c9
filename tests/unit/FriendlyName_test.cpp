#include "link/FriendlyName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The port cut out of a friendly name, or L"<skipped>" when CutPortName refuses the name; a
// refusal must also leave no stale text in the port buffer.
std::wstring Cut(const wchar_t* friendlyName) {
    wchar_t port[kMaxPortNameChars + 1] = L"STALE";
    if (!CutPortName(friendlyName, port)) {
        EXPECT_EQ(std::wstring(), port) << "a refused name must leave the port empty";
        return L"<skipped>";
    }
    return port;
}

}  // namespace

TEST(FriendlyName, RecognisesTrackerBridgesByCaseSensitiveWord) {
    EXPECT_TRUE(IsTrackerBridgeName(L"STMicroelectronics Virtual COM Port (COM7)"));
    EXPECT_TRUE(IsTrackerBridgeName(L"USB (COM5) by Prolific"));

    EXPECT_FALSE(IsTrackerBridgeName(L"USB Serial Port (COM12)"));
    EXPECT_FALSE(IsTrackerBridgeName(L"stmicroelectronics Virtual COM Port (COM7)"));
    EXPECT_FALSE(IsTrackerBridgeName(L"PROLIFIC USB-to-Serial Comm Port (COM3)"));
    EXPECT_FALSE(IsTrackerBridgeName(nullptr));
}

TEST(FriendlyName, CutsTextOfFirstParenthesisUpToNineCharacters) {
    EXPECT_EQ(L"COM3", Cut(L"Prolific USB-to-Serial Comm Port (COM3) extra"));
    EXPECT_EQ(L"Rev B", Cut(L"STM32 (Rev B) Port (COM4)"));
    EXPECT_EQ(L"a (b", Cut(L"STM (a (b) c)"));
    EXPECT_EQ(L"COM5", Cut(L"STM) (COM5)"));
    EXPECT_EQ(L"C", Cut(L"STM (C)"));
    EXPECT_EQ(L"COM123456", Cut(L"STM (COM123456)"));
}

TEST(FriendlyName, SkipsNamesWithoutUsablePort) {
    EXPECT_EQ(L"<skipped>", Cut(L"STM (COM1234567)"));
    EXPECT_EQ(L"<skipped>", Cut(L"STM Virtual COM Port"));
    EXPECT_EQ(L"<skipped>", Cut(L"STM Virtual COM Port (COM7"));
    EXPECT_EQ(L"<skipped>", Cut(L"STM Virtual COM Port ) (COM7"));
    EXPECT_EQ(L"<skipped>", Cut(L"STM Virtual COM Port () (COM7)"));
    EXPECT_EQ(L"<skipped>", Cut(nullptr));
}
