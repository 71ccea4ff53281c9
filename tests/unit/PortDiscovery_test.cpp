// Finding the tracker's port: its bridge's friendly name, the pass over the present devices, and
// the slot that hands the name to the workers.
#include "link/TrackerPortScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FakeClock.h"
#include "link/FriendlyName.h"
#include "link/PortNameSlot.h"

namespace {

// The program's slot is a namespace-scope static that another static's constructor may use, so
// it must be constant-initialised: this fails to build if the slot ever needs start-up code.
[[maybe_unused]] constexpr PortNameSlot kNeedsNoStartUpCode;

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

TEST(FriendlyName, BridgeIsKnownByItsMakersNameAndItsPortByTheLastParentheses) {
    const struct {
        const wchar_t* name;
        bool bridge;
        const wchar_t* port;
    } kCases[] = {
        {kStm7, true, L"COM7"},
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

TEST(PortScan, LastBridgeFoundIsPublishedOnceAndShown) {
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

TEST(PortScan, WithoutADeviceListTheLastKnownPortStays) {
    Scan scan({{kStm7}}, L"COM5");
    scan.devices.openFails = true;
    scan.Run();
    EXPECT_EQ(L"COM5", Read(scan.portName));
    EXPECT_TRUE(scan.display.shown.empty());
    EXPECT_TRUE(scan.devices.bufferSizes.empty());
    EXPECT_EQ(0, scan.devices.closes) << "a list that was never obtained is not released";
}

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
