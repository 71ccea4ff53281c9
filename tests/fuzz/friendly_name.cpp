// Any friendly names a device list could hold, through the discovery pass: the bridge test and
// the cut of the port name, with names that fill the whole buffer and carry no terminator.
// Names are UTF-16 code units, little-endian; a zero unit separates the devices.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "link/FriendlyName.h"
#include "link/PortNameSlot.h"
#include "link/TrackerPortScan.h"

namespace {

class Devices : public DeviceList {
public:
    explicit Devices(std::vector<std::wstring> names) : names_(std::move(names)) {}
    bool Open() override { return true; }
    NameRead ReadFriendlyName(unsigned index, wchar_t* buffer, unsigned bufferBytes) override {
        if (index >= names_.size())
            return NameRead::kNoMoreDevices;
        const std::wstring& name = names_[index];
        // Like the platform, as much as fits and no terminator of its own.
        std::memcpy(buffer, name.data(), std::min<size_t>(bufferBytes, name.size() * sizeof(wchar_t)));
        return NameRead::kRead;
    }
    void Close() override {}

private:
    std::vector<std::wstring> names_;
};

// Every port shown must be one the slot accepts and the one it holds at the end is the last.
class Display : public PortDisplay {
public:
    void Show(const wchar_t* portName) override {
        if (std::wcslen(portName) > kMaxPortNameChars)
            __builtin_trap();
        last = portName;
    }
    std::wstring last;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> names(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (unit == 0)
            names.emplace_back();
        else
            names.back() += unit;
    }
    for (const std::wstring& name : names) {
        // Exactly the name and its terminator, so that a read past them is caught.
        std::vector<wchar_t> exact(name.begin(), name.end());
        exact.push_back(L'\0');
        IsTrackerBridgeName(exact.data());
        wchar_t port[kMaxPortNameChars + 1];
        const bool cut = CutPortName(exact.data(), port);
        const std::wstring found(port, wcsnlen(port, kMaxPortNameChars + 1));
        if (found.size() > kMaxPortNameChars || cut == found.empty() ||
            (cut && name.find(L"(" + found + L")") == std::wstring::npos))
            __builtin_trap();
    }
    Devices devices(names);
    PortNameSlot slot;
    Display display;
    FakeClock clock;
    ScanTrackerPorts(devices, slot, display, clock);
    wchar_t held[kMaxPortNameChars + 1];
    slot.Get(held);
    if (display.last != held)
        __builtin_trap();
    return 0;
}
