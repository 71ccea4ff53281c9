// The devices Windows reports as present, of every class, read through the device setup API.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include "link/TrackerPortScan.h"

class SetupDiDeviceList : public DeviceList {
public:
    SetupDiDeviceList() = default;
    SetupDiDeviceList(const SetupDiDeviceList&) = delete;
    SetupDiDeviceList& operator=(const SetupDiDeviceList&) = delete;
    ~SetupDiDeviceList() override;

    bool Open() override;
    NameRead ReadFriendlyName(unsigned index, wchar_t* buffer, unsigned bufferBytes) override;
    void Close() override;

private:
    HDEVINFO devices_ = INVALID_HANDLE_VALUE;
};
