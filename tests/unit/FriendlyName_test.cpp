// How the tracker's USB-serial bridge is known among the present devices, and where its port
// name sits in the bridge's friendly name.
#include "link/FriendlyName.h"

#include <gtest/gtest.h>

#include <string>

TEST(FriendlyName, BridgeIsKnownByItsMakersNameAndItsPortByTheLastParentheses) {
    const struct {
        const wchar_t* name;
        bool bridge;
        const wchar_t* port;
    } kCases[] = {
        {L"STMicroelectronics Virtual COM Port (COM7)", true, L"COM7"},
        {L"USB (COM5) by Prolific", true, L"COM5"},
        {L"USB Serial Port (COM12)", false, L"COM12"},
        {L"stmicroelectronics Virtual COM Port (COM7)", false, L"COM7"},
        {L"PROLIFIC USB-to-Serial Comm Port (COM3)", false, L"COM3"},
        {L"STM32 (Rev B) Port (COM4)", true, L"COM4"},
        {L"STM (COM123456)", true, L"COM123456"},
        // Only "COM" and a number is a port: a path would open a file and get the commands.
        {L"STM Port (COM4) (Rev B)", true, L""},
        {L"STM Port (C:\\x)", true, L""},
        {L"STM Port (COM)", true, L""},
        {L"STM Port (COM07)", true, L""},
        {L"STM Port (COM7a)", true, L""},
        {L"STM Port (COM 7)", true, L""},
        {L"STM (COM1234567)", true, L""},
        {L"STM Virtual COM Port", true, L""},
        {L"STM Virtual COM Port (COM7", true, L""},
        {nullptr, false, L""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.bridge, IsTrackerBridgeName(c.name));
        wchar_t port[kMaxPortNameChars + 1] = L"STALE";
        EXPECT_EQ(*c.port != L'\0', CutPortName(c.name, port));
        EXPECT_EQ(std::wstring(c.port), port) << "a refused name leaves the port empty";
    }
}
