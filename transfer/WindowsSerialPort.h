// The tracker's COM port for the firmware transfer, through the Windows serial functions. Reads
// never block in the driver and writes only briefly: they wait by polling in steps of at most
// 10 ms.
#pragma once
#include <windows.h>

#include "transfer/SerialPort.h"

class WindowsSerialPort : public SerialPort {
public:
    WindowsSerialPort() = default;
    WindowsSerialPort(const WindowsSerialPort&) = delete;
    WindowsSerialPort& operator=(const WindowsSerialPort&) = delete;
    ~WindowsSerialPort() override;

    int32_t Open(const char* portName) override;
    int32_t Configure(uint32_t baudRate) override;
    int32_t Write(const uint8_t* data, int32_t length, uint32_t waitMs) override;
    int32_t Read(uint8_t* buffer, int32_t length, uint32_t waitMs) override;
    void Close() override;

private:
    // Null until the first open; INVALID_HANDLE_VALUE after a failed open and after Close.
    HANDLE handle = nullptr;
};
