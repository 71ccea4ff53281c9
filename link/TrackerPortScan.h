// One pass of looking for the tracker among the devices present: the port of the last bridge
// whose friendly name matches goes into the slot and on the open pages, or no name when none does.
#pragma once

class Clock;
class PortNameSlot;

// The devices present on the PC, read by index. SetupDiDeviceList is the real one.
class DeviceList {
public:
    enum class NameRead {
        kRead,           // buffer holds the device's friendly name
        kNoName,         // the device has no friendly name that fits; go on with the next one
        kNoMoreDevices,  // index is past the last device (or the list could not be read on)
    };

    virtual ~DeviceList() = default;
    // False when the list of devices cannot be obtained; Close is then not called.
    virtual bool Open() = 0;
    virtual NameRead ReadFriendlyName(unsigned index, wchar_t* buffer, unsigned bufferBytes) = 0;
    virtual void Close() = 0;
};

// Where the user sees the tracker's port: the box of the page on screen, if that page has one.
class PortDisplay {
public:
    virtual ~PortDisplay() = default;
    // An empty name says that no tracker is known.
    virtual void Show(const wchar_t* portName) = 0;
};

constexpr unsigned kFriendlyNameBytes = 2048;
constexpr unsigned kPortSettleMs = 500;

void ScanTrackerPorts(DeviceList& devices, PortNameSlot& portName, PortDisplay& display, Clock& clock);
