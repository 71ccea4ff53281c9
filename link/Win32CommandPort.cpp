#include "link/Win32CommandPort.h"

#include <cwchar>

#include "link/TrackerPortState.h"

namespace {

constexpr DWORD kTrackerBaudRate = 115200;
// A read returns at once with whatever is waiting, or waits up to this long for a first byte.
constexpr DWORD kFirstByteWaitMs = 100;
// A write may take this long per byte, over ten times what a byte needs at 115200 bit/s, and
// this long besides; a 1024-byte restore command then has about a second, a one-byte request
// a tenth. The driver's bound is the sum of the two, so both must be real numbers: a tracker
// that stops taking bytes must fail the write, not hold the page for ever.
constexpr DWORD kWriteWaitPerByteMs = 1;
constexpr DWORD kWriteWaitMs = 100;
constexpr size_t kDevicePathChars = 4 + kMaxPortNameChars + 1;

void ApplyLineSettings(HANDLE port) {
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(port, &dcb);
    dcb.BaudRate = kTrackerBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // After a line error the driver fails reads and writes until the error is cleared, so a
    // garbled answer is never taken for a good one.
    dcb.fAbortOnError = TRUE;
    ::SetCommState(port, &dcb);
}

void ApplyTimeouts(HANDLE port) {
    COMMTIMEOUTS timeouts = {};
    ::GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kFirstByteWaitMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteWaitPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteWaitMs;
    ::SetCommTimeouts(port, &timeouts);
}

// Starts from a clean line: no error state, nothing left over from before in either direction.
void ClearLine(HANDLE port) {
    DWORD errors = 0;
    ::ClearCommError(port, &errors, nullptr);
    ::PurgeComm(port, PURGE_TXCLEAR);
    ::PurgeComm(port, PURGE_RXCLEAR);
    ::ClearCommError(port, &errors, nullptr);
}

}  // namespace

HANDLE OpenTrackerPort() {
    wchar_t portName[kMaxPortNameChars + 1];
    g_portName.Get(portName);
    // The \\.\ form opens any COM port; the plain name works only up to COM9.
    wchar_t path[kDevicePathChars];
    if (std::swprintf(path, kDevicePathChars, L"\\\\.\\%ls", portName) < 0)
        return INVALID_HANDLE_VALUE;
    // Exclusive: a port that another program holds does not open, and the exchange tries again.
    HANDLE port = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    // A port that opens counts as open even if it refuses a setting: the tracker may still answer.
    ApplyLineSettings(port);
    ApplyTimeouts(port);
    ClearLine(port);
    return port;
}

bool Win32CommandPort::Open() {
    g_portHandle = OpenTrackerPort();
    return IsOpen();
}

bool Win32CommandPort::IsOpen() const {
    return g_portHandle != INVALID_HANDLE_VALUE;
}

bool Win32CommandPort::Write(const void* data, uint32_t size) {
    DWORD written = 0;
    // A write that timed out reports success with fewer bytes: that is not a command sent.
    return ::WriteFile(g_portHandle, data, size, &written, nullptr) && written == size;
}

uint32_t Win32CommandPort::BytesWaiting() {
    DWORD errors = 0;
    COMSTAT status = {};
    if (!::ClearCommError(g_portHandle, &errors, &status))
        return 0;
    return status.cbInQue;
}

bool Win32CommandPort::Read(void* buffer, uint32_t size, uint32_t* bytesRead) {
    DWORD got = 0;
    const bool ok = ::ReadFile(g_portHandle, buffer, size, &got, nullptr) != FALSE;
    *bytesRead = got;
    return ok;
}

void Win32CommandPort::Close() {
    if (g_portHandle == INVALID_HANDLE_VALUE)
        return;
    ::CloseHandle(g_portHandle);
    g_portHandle = INVALID_HANDLE_VALUE;
}
