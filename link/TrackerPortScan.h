// One pass of looking for the tracker among the devices present: every bridge whose friendly
// name matches puts its port name into the slot and on the open pages, and the last one wins.
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

// The port boxes of the connect (2), boot-loader (5) and power-on (7) pages. Each call does
// nothing while its page is not on screen.
class PortDisplays {
public:
    virtual ~PortDisplays() = default;
    virtual void ShowOnConnectPage(const wchar_t* portName) = 0;
    virtual void ShowOnBootPage(const wchar_t* portName) = 0;
    virtual void ShowOnPowerOnPage(const wchar_t* portName) = 0;
};

constexpr unsigned kFriendlyNameBytes = 2048;
constexpr unsigned kPortSettleMs = 500;

void ScanTrackerPorts(DeviceList& devices, PortNameSlot& portName, PortDisplays& displays, Clock& clock);
