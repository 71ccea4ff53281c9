#include "link/SetupDiDeviceList.h"

SetupDiDeviceList::~SetupDiDeviceList() {
    SetupDiDeviceList::Close();
}

// The tracker's bridge may sit in the Ports class or elsewhere depending on its driver, so every
// present device of every class is listed and only its friendly name decides.
bool SetupDiDeviceList::Open() {
    Close();
    devices_ = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    return devices_ != INVALID_HANDLE_VALUE;
}

DeviceList::NameRead SetupDiDeviceList::ReadFriendlyName(unsigned index,
                                                         wchar_t* buffer,
                                                         unsigned bufferBytes) {
    if (devices_ == INVALID_HANDLE_VALUE) {
        return NameRead::kNoMoreDevices;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    // Fails with ERROR_NO_MORE_ITEMS past the last device; any other failure ends the list too,
    // as there is no way to step over a device that can't be enumerated.
    if (!SetupDiEnumDeviceInfo(devices_, index, &device)) {
        return NameRead::kNoMoreDevices;
    }
    // Many devices have no friendly name at all; that, or a name too long for the buffer, just
    // means this one is not the tracker.
    if (!SetupDiGetDeviceRegistryPropertyW(devices_, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), bufferBytes, nullptr)) {
        return NameRead::kNoName;
    }
    return NameRead::kRead;
}

void SetupDiDeviceList::Close() {
    if (devices_ != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(devices_);
        devices_ = INVALID_HANDLE_VALUE;
    }
}
