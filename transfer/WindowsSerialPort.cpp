#include "transfer/WindowsSerialPort.h"

#include <algorithm>
#include <cstdio>

#include "link/PortName.h"

namespace {

constexpr uint32_t kPollStepMs = 10;
// How long one write may take in the driver. A 1029-byte frame needs about 89 ms at 115200
// bit/s: a driver that completes a write only as the bytes leave (a real UART, several USB
// bridges) must be able to take the whole frame in one write, or it goes out in slices with
// gaps in which a stray byte from the boot loader would abandon it half-sent.
constexpr DWORD kWriteAttemptMs = 300;

// Calls attempt() until it moves at least one byte, fails, or waitMs have been spent, polling
// every kPollStepMs. The pauses count in full, so a quiet read waits at least as long as it is
// told; the time an attempt spends in the driver counts too, so a stalled line ends the wait on
// time however long each write blocks. That time is measured with the performance counter: the
// tick count moves in steps of up to 16 ms, far coarser than most attempts.
template <typename Attempt>
int32_t PollUntilMoved(uint32_t waitMs, int32_t failure, Attempt attempt) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    uint32_t spentMs = 0;
    for (;;) {
        LARGE_INTEGER attemptStart;
        ::QueryPerformanceCounter(&attemptStart);
        DWORD moved = 0;
        if (!attempt(&moved))
            return failure;
        if (moved > 0)
            return static_cast<int32_t>(moved);
        LARGE_INTEGER attemptEnd;
        ::QueryPerformanceCounter(&attemptEnd);
        spentMs +=
            static_cast<uint32_t>((attemptEnd.QuadPart - attemptStart.QuadPart) * 1000 / frequency.QuadPart);
        if (spentMs >= waitMs)
            return 0;
        const uint32_t stepMs = std::min(kPollStepMs, waitMs - spentMs);
        ::Sleep(stepMs);
        spentMs += stepMs;
    }
}

}  // namespace

WindowsSerialPort::~WindowsSerialPort() {
    WindowsSerialPort::Close();
}

int32_t WindowsSerialPort::Open(const char* portName) {
    // "\\.\" and the name, two bytes a character in a double-byte code page.
    char path[4 + 2 * kMaxPortNameChars + 1];
    const int length = std::snprintf(path, sizeof path, "\\\\.\\%s", portName);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path)
        return kPortAbsent;  // no port has such a name
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

    // Only the frame format is forced; flow control stays as the driver has it, unlike on the
    // command port, so that a bridge which needs it for the long transfer keeps it. The driver
    // keeps line settings from one open to the next: after the command port it still aborts
    // every read and write on a line error until the error is cleared, and the transfer, which
    // answers a garbled frame by sending it again, never clears it. So that one framing error
    // cannot fail the rest of the upload, the error state is cleared and the abort turned off.
    DWORD errors = 0;
    ::ClearCommError(handle, &errors, nullptr);
    DCB dcb = {};
    if (!::GetCommState(handle, &dcb))
        return kPortFailed;
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(handle, &dcb))
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? kPortSettingsRefused : kPortFailed;

    // Reads return at once with what has arrived, and a write gives up after kWriteAttemptMs
    // when the line takes nothing: the waits the transfer asks for are kept by polling in Read
    // and Write. A write with no time-out at all would hang for ever on a tracker that stopped
    // taking bytes.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = kWriteAttemptMs;
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
