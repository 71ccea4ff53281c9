// The pass over the present devices that finds the tracker's port and publishes it.
#include "link/TrackerPortScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/FriendlyName.h"
#include "link/PortNameSlot.h"

namespace {

std::wstring Read(const PortNameSlot& slot) {
    wchar_t name[kMaxPortNameChars + 1];
    slot.Get(name);
    return name;
}

struct FakeDevice {
    std::wstring friendlyName;
    bool readFails = false;
};

// Plays the present devices. Names are written without a terminator, so the scan has to rely
// on a zeroed buffer, as it does with the platform; a failing read writes the name all the same.
class FakeDeviceList : public DeviceList {
public:
    explicit FakeDeviceList(std::vector<FakeDevice> devices) : devices_(std::move(devices)) {}

    bool Open() override { return !openFails; }
    NameRead ReadFriendlyName(unsigned index, wchar_t* buffer, unsigned bufferBytes) override {
        bufferSizes.push_back(bufferBytes);
        onRead();
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
        dirtyBuffer |= std::any_of(bytes, bytes + bufferBytes, [](unsigned char b) { return b != 0; });
        if (index >= devices_.size())
            return NameRead::kNoMoreDevices;
        const FakeDevice& device = devices_[index];
        std::memcpy(buffer, device.friendlyName.data(), device.friendlyName.size() * sizeof(wchar_t));
        return device.readFails ? NameRead::kNoName : NameRead::kRead;
    }
    void Close() override { ++closes; }

    bool openFails = false;
    std::function<void()> onRead = [] {};
    int closes = 0;
    std::vector<unsigned> bufferSizes;  // one per read
    bool dirtyBuffer = false;           // some read began with a buffer that was not all zero

private:
    std::vector<FakeDevice> devices_;
};

class RecordingDisplay : public PortDisplay {
public:
    void Show(const wchar_t* portName) override { shown.push_back(portName); }
    std::vector<std::wstring> shown;
};

struct Scan {
    Scan(std::vector<FakeDevice> list, const wchar_t* previousName) : devices(std::move(list)) {
        portName.Set(previousName);
    }
    void Run() { ScanTrackerPorts(devices, portName, display, clock); }

    FakeDeviceList devices;
    PortNameSlot portName;
    RecordingDisplay display;
    FakeClock clock;
};

const wchar_t kStm7[] = L"STMicroelectronics Virtual COM Port (COM7)";
const wchar_t kProlific3[] = L"Prolific USB-to-Serial Comm Port (COM3)";

}  // namespace

TEST(TrackerPortScan, LastBridgeFoundIsPublishedOnceAndShown) {
    const struct {
        std::vector<FakeDevice> devices;
        std::vector<std::wstring> found;
    } kCases[] = {
        {{{L"Communications Port (COM1)"}, {kStm7}}, {L"COM7"}},
        {{{L"USB Serial Port (COM12)"}, {L"stmicroelectronics virtual com port (COM8)"}}, {}},
        {{{kStm7}, {L"USB Serial Port (COM12)"}, {kProlific3}}, {L"COM7", L"COM3"}},
        // A bridge whose name holds no usable port is passed over, as is a name that cannot be read.
        {{{kProlific3}, {L"STM Virtual COM Port (COM1234567)"}, {L"STM Virtual COM Port ()"}}, {L"COM3"}},
        {{{kStm7}, {kProlific3, true}, {L"Generic Bluetooth Radio"}}, {L"COM7"}},
        // Written over the longer name before it, the second would read "STM Port (COM8)".
        {{{L"ABCDEFGHIJKLMN)"}, {L"STM Port (COM8"}}, {}},
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const auto& c = kCases[i];
        Scan scan(c.devices, L"COM9");
        // A worker that reads the name while the pass runs finds the old one, never an empty one.
        scan.devices.onRead = [&scan] { EXPECT_EQ(L"COM9", Read(scan.portName)); };
        scan.Run();
        const std::wstring published = c.found.empty() ? std::wstring() : c.found.back();
        EXPECT_EQ(std::vector<std::wstring>{published}, scan.display.shown);
        EXPECT_EQ(published, Read(scan.portName));
        // Each bridge found gets time to settle before the workers may open it.
        EXPECT_EQ(std::vector<uint32_t>(c.found.size(), kPortSettleMs), scan.clock.sleeps);
        // Every device is read, then the end is found, each time into the whole zeroed buffer.
        EXPECT_EQ(std::vector<unsigned>(c.devices.size() + 1, kFriendlyNameBytes), scan.devices.bufferSizes);
        EXPECT_FALSE(scan.devices.dirtyBuffer);
        EXPECT_EQ(1, scan.devices.closes);
    }
}

TEST(TrackerPortScan, WithoutADeviceListTheLastKnownPortStays) {
    Scan scan({{kStm7}}, L"COM5");
    scan.devices.openFails = true;
    scan.Run();
    EXPECT_EQ(L"COM5", Read(scan.portName));
    EXPECT_TRUE(scan.display.shown.empty());
    EXPECT_TRUE(scan.devices.bufferSizes.empty());
    EXPECT_EQ(0, scan.devices.closes) << "a list that was never obtained is not released";
}
