#include "transfer/WindowsSerialPort.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t kPollStepMs = 10;

// Calls attempt() until it moves at least one byte, fails, or waitMs has been slept away. Only
// the sleeps count against the wait, so a slow driver call never shortens it.
template <typename Attempt>
int32_t PollUntilMoved(uint32_t waitMs, int32_t failure, Attempt attempt) {
    uint32_t remainingMs = waitMs;
    for (;;) {
        DWORD moved = 0;
        if (!attempt(&moved))
            return failure;
        if (moved > 0)
            return static_cast<int32_t>(moved);
        if (remainingMs == 0)
            return 0;
        const uint32_t stepMs = std::min(kPollStepMs, remainingMs);
        ::Sleep(stepMs);
        remainingMs -= stepMs;
    }
}

}  // namespace

WindowsSerialPort::~WindowsSerialPort() {
    Close();
}

int32_t WindowsSerialPort::Open(const char* portName) {
    char path[20];
    std::snprintf(path, sizeof path, "\\\\.\\%s", portName);
    handle = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
        return kPortOk;
    switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
            return kPortAbsent;
        // Windows says "access denied" for a port another program holds; Wine reports the
        // same hold as a sharing or lock violation.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return kPortInUse;
        default:
            return kPortFailed;
    }
}

int32_t WindowsSerialPort::Configure(uint32_t baudRate) {
    constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if (!::FlushFileBuffers(handle) || !::PurgeComm(handle, kPurgeAll))
        return kPortFailed;

    // Only the frame format is forced; flow control and the rest stay as the driver has them.
    DCB dcb = {};
    if (!::GetCommState(handle, &dcb))
        return kPortFailed;
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!::SetCommState(handle, &dcb))
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? kPortSettingsRefused : kPortFailed;

    // Reads return at once with what has arrived, and a write gives up within a poll step when
    // the line takes nothing: all waiting is done by polling in Read and Write. A write with no
    // time-out at all would hang for ever on a tracker that stopped taking bytes.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = kPollStepMs;
    if (!::SetCommTimeouts(handle, &timeouts) || !::PurgeComm(handle, kPurgeAll))
        return kPortFailed;
    return kPortOk;
}

int32_t WindowsSerialPort::Write(const uint8_t* data, int32_t length, uint32_t waitMs) {
    return PollUntilMoved(waitMs, kPortWriteFailed, [&](DWORD* written) {
        return ::WriteFile(handle, data, static_cast<DWORD>(length), written, nullptr) != FALSE;
    });
}

int32_t WindowsSerialPort::Read(uint8_t* buffer, int32_t length, uint32_t waitMs) {
    return PollUntilMoved(waitMs, kPortReadFailed, [&](DWORD* read) {
        return ::ReadFile(handle, buffer, static_cast<DWORD>(length), read, nullptr) != FALSE;
    });
}

void WindowsSerialPort::Close() {
    // A port that was never opened has nothing to close either.
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
        ::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}
