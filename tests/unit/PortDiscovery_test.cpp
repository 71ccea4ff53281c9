#include "link/TrackerPortScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/PortNameSlot.h"
#include "link/SetupDiDeviceList.h"

namespace {

struct FakeDevice {
    std::wstring friendlyName;
    bool readFails = false;
};

// Plays the present devices. A failing read still scribbles the name into the buffer, so a scan
// that used the buffer anyway would be caught. Names are written without a terminator: the scan
// has to rely on the zeroed buffer, as it does with the platform.
class FakeDeviceList : public DeviceList {
public:
    explicit FakeDeviceList(std::vector<FakeDevice> devices) : devices_(std::move(devices)) {}

    bool Open() override {
        ++opens;
        return !openFails;
    }

    NameRead ReadFriendlyName(unsigned index, wchar_t* buffer, unsigned bufferBytes) override {
        ++reads;
        bufferSizes.push_back(bufferBytes);
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
        dirtyBuffer |= std::any_of(bytes, bytes + bufferBytes, [](unsigned char b) { return b != 0; });
        if (index >= devices_.size()) {
            return NameRead::kNoMoreDevices;
        }
        const FakeDevice& device = devices_[index];
        std::memcpy(buffer, device.friendlyName.data(), device.friendlyName.size() * sizeof(wchar_t));
        return device.readFails ? NameRead::kNoName : NameRead::kRead;
    }

    void Close() override { ++closes; }

    bool openFails = false;
    int opens = 0;
    int reads = 0;
    int closes = 0;
    std::vector<unsigned> bufferSizes;
    bool dirtyBuffer = false;  // some read began with a buffer that was not all zero

private:
    std::vector<FakeDevice> devices_;
};

// Records every name shown, "" for an emptied box.
class RecordingDisplays : public PortDisplay {
public:
    void Show(const wchar_t* portName) override { calls.push_back(portName); }

    std::vector<std::wstring> calls;
};

std::wstring Read(const PortNameSlot& slot) {
    wchar_t name[PortNameSlot::kMaxChars + 1];
    slot.Get(name);
    return name;
}

const std::vector<std::wstring> kCleared = {L""};

std::vector<std::wstring> ClearedThenShown(std::initializer_list<const wchar_t*> names) {
    std::vector<std::wstring> calls = kCleared;
    for (const wchar_t* name : names) {
        calls.push_back(name);
    }
    return calls;
}

struct Scan {
    explicit Scan(std::vector<FakeDevice> devices, const wchar_t* previousName = L"")
        : devices(std::move(devices)) {
        portName.Set(previousName);
    }
    void Run() { ScanTrackerPorts(devices, portName, displays, clock); }

    FakeDeviceList devices;
    PortNameSlot portName;
    RecordingDisplays displays;
    FakeClock clock;
};

}  // namespace

TEST(PortDiscovery, TakesPortOfStmBridge) {
    Scan scan({{L"Communications Port (COM1)"}, {L"STMicroelectronics Virtual COM Port (COM7)"}}, L"COM9");
    scan.Run();

    EXPECT_EQ(L"COM7", Read(scan.portName));
    EXPECT_EQ(std::vector<uint32_t>{kPortSettleMs}, scan.clock.sleeps);
    EXPECT_EQ(ClearedThenShown({L"COM7"}), scan.displays.calls);
    EXPECT_EQ(1, scan.devices.opens);
    EXPECT_EQ(1, scan.devices.closes);
    EXPECT_EQ(3, scan.devices.reads) << "two devices and the read that finds the end";
}

TEST(PortDiscovery, OtherSerialPortsLeaveNameEmpty) {
    Scan scan({{L"USB Serial Port (COM12)"}, {L"stmicroelectronics virtual com port (COM8)"}}, L"COM7");
    scan.Run();

    EXPECT_EQ(L"", Read(scan.portName)) << "the name of the last pass must not survive";
    EXPECT_TRUE(scan.clock.sleeps.empty());
    EXPECT_EQ(kCleared, scan.displays.calls);
    EXPECT_EQ(1, scan.devices.closes);
}

TEST(PortDiscovery, LastMatchingDeviceWinsAndEachIsShownInTurn) {
    Scan scan({{L"STMicroelectronics Virtual COM Port (COM7)"},
               {L"USB Serial Port (COM12)"},
               {L"Prolific USB-to-Serial Comm Port (COM3)"}});
    const uint32_t start = scan.clock.NowMs();
    scan.Run();

    EXPECT_EQ(L"COM3", Read(scan.portName));
    EXPECT_EQ((std::vector<uint32_t>{kPortSettleMs, kPortSettleMs}), scan.clock.sleeps);
    EXPECT_TRUE(HasElapsed(scan.clock.NowMs(), start, 1000));
    EXPECT_EQ(ClearedThenShown({L"COM7", L"COM3"}), scan.displays.calls);
}

TEST(PortDiscovery, UnusablePortNameSkipsOnlyThatDevice) {
    const wchar_t* const unusable[] = {
        L"STM Virtual COM Port",               // no '('
        L"STM Virtual COM Port (COM5",         // no ')' after it
        L"STM Virtual COM Port (COM1234567)",  // ten characters
        L"STM Virtual COM Port ()",            // empty
    };
    for (const wchar_t* name : unusable) {
        SCOPED_TRACE(std::string("friendly name ") + std::string(name, name + wcslen(name)));

        Scan alone({{name}}, L"COM9");
        alone.Run();
        EXPECT_EQ(L"", Read(alone.portName));
        EXPECT_EQ(kCleared, alone.displays.calls);

        Scan afterBridge({{L"Prolific USB-to-Serial Comm Port (COM3)"}, {name}});
        afterBridge.Run();
        EXPECT_EQ(L"COM3", Read(afterBridge.portName));
        EXPECT_EQ(ClearedThenShown({L"COM3"}), afterBridge.displays.calls);
    }
}

TEST(PortDiscovery, MissingDeviceListChangesNothing) {
    Scan scan({{L"STMicroelectronics Virtual COM Port (COM7)"}}, L"COM5");
    scan.devices.openFails = true;
    scan.Run();

    EXPECT_EQ(L"COM5", Read(scan.portName));
    EXPECT_TRUE(scan.displays.calls.empty());
    EXPECT_TRUE(scan.clock.sleeps.empty());
    EXPECT_EQ(0, scan.devices.reads);
    EXPECT_EQ(0, scan.devices.closes) << "a list that was never obtained must not be released";
}

TEST(PortDiscovery, UnreadableNameSkipsOnlyThatDevice) {
    Scan scan({{L"STMicroelectronics Virtual COM Port (COM7)"},
               {L"Prolific USB-to-Serial Comm Port (COM3)", /*readFails=*/true},
               {L"Generic Bluetooth Radio"}});
    scan.Run();

    EXPECT_EQ(L"COM7", Read(scan.portName));
    EXPECT_EQ(ClearedThenShown({L"COM7"}), scan.displays.calls);
    EXPECT_EQ(4, scan.devices.reads) << "the devices after the unreadable one are still looked at";
}

// The second name is written without a terminator over where the first, longer one lay; read
// together they would make "STM Port (COM8)".
TEST(PortDiscovery, EveryReadStartsWithZeroedBuffer) {
    Scan scan({{L"ABCDEFGHIJKLMN)"}, {L"STM Port (COM8"}});
    scan.Run();

    EXPECT_EQ(L"", Read(scan.portName));
    EXPECT_TRUE(scan.clock.sleeps.empty());
    EXPECT_FALSE(scan.devices.dirtyBuffer);
    EXPECT_EQ(std::vector<unsigned>(3, kFriendlyNameBytes), scan.devices.bufferSizes);
}

// Under Wine the real list holds a handful of emulated devices, and the walk through them ends.
TEST(SetupDiDeviceList, WalksPresentDevicesToTheEnd) {
    SetupDiDeviceList devices;
    ASSERT_TRUE(devices.Open());
    wchar_t name[kFriendlyNameBytes / sizeof(wchar_t)];
    unsigned count = 0;
    while (count < 10000 &&
           devices.ReadFriendlyName(count, name, sizeof name) != DeviceList::NameRead::kNoMoreDevices) {
        ++count;
    }
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, 10000u);
    devices.Close();
    EXPECT_EQ(DeviceList::NameRead::kNoMoreDevices, devices.ReadFriendlyName(0, name, sizeof name));
}
