// The byte channel that the firmware transfer talks to, so that the YMODEM sender never touches
// the operating system's serial functions and can be tested against a scripted line.
#pragma once
#include <cstdint>

// Failures of the channel's opening, reads and writes; the transfer passes them through, and its
// own codes start at -200.
enum SerialPortResult : int32_t {
    kPortNotOpened = -103,
    kPortWriteFailed = -104,
    kPortReadFailed = -105,
};

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // One attempt to open the tracker's port, set up for the transfer; true when it is open now.
    virtual bool Open() = 0;
    // Both return the count of bytes moved (never topped up to the length) as soon as there is
    // one, 0 when waitMs went by without any, or a negative result code. A wait of 0 takes only
    // what is there at once.
    virtual int32_t Write(const uint8_t* data, int32_t length, uint32_t waitMs) = 0;
    virtual int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) = 0;
    // Closes the port if it is open.
    virtual void Close() = 0;
};
