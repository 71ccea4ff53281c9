// The tracker's COM port on Windows, for every exchange with the tracker: the command pages'
// exchanges and the firmware transfer, each with its own line profile.
#pragma once
#include <cstdint>

#include "link/Clock.h"
#include "link/CommApi.h"
#include "link/CommandPort.h"
#include "link/PortNameSlot.h"
#include "link/SerialPort.h"

// How the line is set up, by what the port is opened for.
enum class LineProfile {
    kCommands,  // the boot-loader request, the reset and the settings exchanges
    kUpload,    // the firmware transfer to the boot loader
};

class ComPort final : public CommandPort, public SerialPort {
public:
    // Every open takes the name that portName holds at that moment.
    ComPort(CommApi& api, Clock& clock, const PortNameSlot& portName, LineProfile profile)
        : api_(api), clock_(clock), portName_(portName), profile_(profile) {}
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;
    ~ComPort() override;

    bool Open() override;
    bool IsOpen() const override;
    void Close() override;

    // The command exchanges: reads take what waits, or wait up to 100 ms for a first byte.
    bool Write(const void* data, uint32_t size) override;
    bool BytesWaiting(uint32_t* count, bool* lineError) override;
    bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;

    // The transfer: each call waits in the driver, so it ends as soon as a byte has moved.
    int32_t Write(const uint8_t* data, int32_t length, uint32_t waitMs) override;
    int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) override;

private:
    void LogOpen(const wchar_t* name, DWORD outcome);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    bool SetReadWait(uint32_t waitMs);
    void SetLine();
    template <typename Attempt>
    int32_t MoveWithin(uint32_t waitMs, int32_t failure, Attempt attempt);

    CommApi& api_;
    Clock& clock_;
    const PortNameSlot& portName_;
    const LineProfile profile_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // How the last open ended (0 opened, else the system's error), so that the support log hears
    // of a change only: the boot-loader page opens the port ten times a second.
    DWORD lastOpenOutcome_ = MAXDWORD;
    // What the driver was last told, so that a wait it already has is not set again.
    COMMTIMEOUTS timeouts_ = {};
};
