// The byte channel that the firmware transfer talks to, so that the YMODEM sender never touches
// the operating system's serial functions and can be tested against a scripted line.
#pragma once
#include <cstdint>

// Results of the port's operations: 0 is success; the transfer passes these codes through, and
// its own codes start at -200.
enum SerialPortResult : int32_t {
    kPortOk = 0,
    kPortFailed = -100,           // any other failure of the open or of the line's set-up
    kPortAbsent = -101,           // no such port: the tracker is not plugged in
    kPortInUse = -102,            // another program holds the port
    kPortSettingsRefused = -103,  // the driver refused the line settings
    kPortWriteFailed = -104,
    kPortReadFailed = -105,
};

class SerialPort {
public:
    // Opens the port by its name, such as "COM3", in the system's code page.
    virtual int32_t Open(const char* portName) = 0;
    // Sets the speed with 8 data bits, no parity, one stop bit, and empties both directions.
    virtual int32_t Configure(uint32_t baudRate) = 0;
    // Both return the count of bytes moved (never topped up to the length), 0 when waitMs went
    // by without any, or a negative result code. A wait of 0 makes one attempt.
    virtual int32_t Write(const uint8_t* data, int32_t length, uint32_t waitMs) = 0;
    virtual int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) = 0;
    virtual void Close() = 0;
    virtual ~SerialPort() = 0;
};

inline SerialPort::~SerialPort() = default;
