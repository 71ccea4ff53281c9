// The tracker's command port on the COM port that discovery found, held in g_portHandle.
#pragma once
#include <windows.h>

#include "link/CommandPort.h"

// Opens the COM port named by g_portName with the tracker's line settings and time-outs; the
// invalid handle value when it cannot be opened. Leaves g_portHandle to the caller.
HANDLE OpenTrackerPort();

// The exchanges' channel over g_portHandle: Open stores OpenTrackerPort's handle there and
// Close sets it back to the invalid value, so it is invalid whenever no exchange runs.
class Win32CommandPort : public CommandPort {
public:
    bool Open() override;
    bool IsOpen() const override;
    bool Write(const void* data, uint32_t size) override;
    uint32_t BytesWaiting() override;
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
    void Close() override;
};
