// Windows-only: the Win32 serial types and constants; the calls themselves go through CommApi.
#include "link/ComPort.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "log/SupportLog.h"

// The two profiles differ because the two uses meet different trackers and different faults.
// The command exchanges talk to the tracker's firmware: its bridge must see DTR and RTS off and
// no flow control, and after a line error the driver is to fail reads and writes until the error
// is read, so that a garbled answer is never taken for a good one. The transfer talks to the
// boot loader: flow control stays as the driver has it, so a bridge that needs it for the long
// transfer keeps it, and a line error must not fail the rest of the upload, since the sender
// answers a garbled frame by sending it again.

namespace {

constexpr DWORD kTrackerBaudRate = 115200;
// A command read returns at once with whatever is waiting, or waits up to this long for a first
// byte.
constexpr DWORD kFirstByteWaitMs = 100;
// A command write may take this long per byte, over ten times what a byte needs at 115200
// bit/s, and this long besides; a 1024-byte restore command then has about a second, a one-byte
// request a tenth. The driver's bound is the sum of the two, so both must be real numbers: a
// tracker that stops taking bytes must fail the write, not hold the page for ever.
constexpr DWORD kWriteWaitPerByteMs = 1;
constexpr DWORD kWriteWaitMs = 100;

// A received byte was garbled (framing, parity, a break) or lost (the bridge's or the driver's
// queue overflowed).
constexpr DWORD kReceiveErrors = CE_FRAME | CE_RXPARITY | CE_BREAK | CE_OVERRUN | CE_RXOVER;

constexpr COMMTIMEOUTS kCommandTimeouts = {MAXDWORD, MAXDWORD, kFirstByteWaitMs, kWriteWaitPerByteMs,
                                           kWriteWaitMs};
// Until the transfer's first call sets its own wait: reads take what is there, writes may take
// a second.
constexpr COMMTIMEOUTS kUploadTimeouts = {MAXDWORD, 0, 0, 0, 1000};

bool operator==(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

ComPort::~ComPort() {
    ComPort::Close();
}

void ComPort::LogOpen(const wchar_t* name, DWORD outcome) {
    if (outcome == lastOpenOutcome_)
        return;
    lastOpenOutcome_ = outcome;
    if (outcome == ERROR_SUCCESS)
        LogLine("port %s opened", Utf8(name).c_str());
    else if (outcome == ERROR_BAD_DEVICE)
        LogLine("port %s is no character device: not opened", Utf8(name).c_str());
    else
        LogLine("port %s would not open; Windows error %lu", Utf8(name).c_str(), outcome);
}

bool ComPort::Open() {
    Close();
    wchar_t name[kMaxPortNameChars + 1];
    portName_.Get(name);
    if (name[0] == L'\0')
        return false;
    // The \\.\ form opens any COM port; the plain name works only up to COM9.
    wchar_t path[4 + kMaxPortNameChars + 1] = L"\\\\.\\";
    wmemcpy(path + 4, name, kMaxPortNameChars + 1);
    // Exclusive: a port that another program holds does not open, and the exchange tries again.
    const HANDLE port = api_.CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    if (port == INVALID_HANDLE_VALUE) {
        LogOpen(name, ::GetLastError());
        return false;
    }
    // A name taken from a device's friendly name could still open a file or a pipe: nothing is
    // written to anything but a character device.
    if (api_.GetFileType(port) != FILE_TYPE_CHAR) {
        api_.CloseHandle(port);
        LogOpen(name, ERROR_BAD_DEVICE);
        return false;
    }
    handle_ = port;
    // The driver keeps abort-on-error from the port's last use; while an error is pending it then
    // refuses every other call, so the error state is read first. A port whose waits cannot be
    // set is no port: with the driver's own, a read could wait for ever.
    DWORD errors = 0;
    api_.ClearCommError(handle_, &errors, nullptr);
    timeouts_ = {};
    if (!SetTimeouts(profile_ == LineProfile::kCommands ? kCommandTimeouts : kUploadTimeouts)) {
        LogOpen(name, ::GetLastError());
        Close();
        return false;
    }
    LogOpen(name, ERROR_SUCCESS);
    SetLine();
    // Nothing left over from before in either direction. A driver that refuses this still has a
    // usable line.
    if (profile_ == LineProfile::kUpload)
        api_.FlushFileBuffers(handle_);
    api_.PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    api_.ClearCommError(handle_, &errors, nullptr);
    return true;
}

// A line setting the driver refuses leaves the line as it was, and the port counts as open all
// the same: a bridge that cannot turn DTR off still passes the tracker's bytes, and a tracker
// that cannot be reached shows as one that does not answer.
void ComPort::SetLine() {
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!api_.GetCommState(handle_, &dcb))
        return;
    dcb.BaudRate = kTrackerBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fAbortOnError = profile_ == LineProfile::kCommands;
    if (profile_ == LineProfile::kCommands) {
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
    }
    api_.SetCommState(handle_, &dcb);
}

bool ComPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    if (timeouts == timeouts_)
        return true;
    COMMTIMEOUTS asked = timeouts;
    if (!api_.SetCommTimeouts(handle_, &asked))
        return false;
    timeouts_ = timeouts;
    return true;
}

bool ComPort::IsOpen() const {
    return handle_ != INVALID_HANDLE_VALUE;
}

void ComPort::Close() {
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    api_.CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool ComPort::Write(const void* data, uint32_t size) {
    DWORD written = 0;
    // A write that timed out reports success with fewer bytes: that is not a command sent.
    return api_.WriteFile(handle_, data, size, &written) && written == size;
}

bool ComPort::BytesWaiting(uint32_t* count, bool* lineError) {
    DWORD errors = 0;
    COMSTAT status = {};
    const bool answered = api_.ClearCommError(handle_, &errors, &status) != FALSE;
    *count = answered ? status.cbInQue : 0;
    if ((errors & kReceiveErrors) != 0)
        LogLine("line error flags 0x%lx", errors);
    if (lineError)
        *lineError = (errors & kReceiveErrors) != 0;
    return answered;
}

bool ComPort::Read(void* buffer, uint32_t size, uint32_t* bytesRead) {
    DWORD got = 0;
    const bool ok = api_.ReadFile(handle_, buffer, size, &got) != FALSE;
    *bytesRead = got;
    return ok;
}

// Gives attempt(leftMs, &moved) the rest of waitMs as the driver's wait until it moves a byte,
// fails, or the wait is over by the clock: a driver's wait may end early (a pseudo-terminal's,
// a coarse timer's), and the transfer's waits are never shorter than it asks; the driver waits
// out the rest.
template <typename Attempt>
int32_t ComPort::MoveWithin(uint32_t waitMs, int32_t failure, Attempt attempt) {
    const uint32_t startMs = clock_.NowMs();
    for (;;) {
        const uint32_t spentMs = clock_.NowMs() - startMs;
        const uint32_t leftMs = spentMs >= waitMs ? 0 : waitMs - spentMs;
        DWORD moved = 0;
        if (!attempt(leftMs, &moved))
            return failure;
        if (moved > 0)
            return static_cast<int32_t>(moved);
        if (clock_.NowMs() - startMs >= waitMs)
            return 0;
    }
}

int32_t ComPort::Read(uint8_t* buffer, int32_t length, uint32_t waitMs) {
    return MoveWithin(waitMs, kPortReadFailed, [&](uint32_t leftMs, DWORD* got) {
        // The wait is for one byte, which the driver hands over as soon as it is there; what came
        // with it is then taken at once. Asked for more, Wine's port waits for all of them.
        if (!SetReadWait(leftMs) || !api_.ReadFile(handle_, buffer, 1, got))
            return false;
        DWORD more = 0;
        if (*got == 0 || length == 1)
            return true;
        if (!SetReadWait(0) || !api_.ReadFile(handle_, buffer + 1, static_cast<DWORD>(length - 1), &more))
            return false;
        *got += more;
        return true;
    });
}

// Waiting: a read returns as soon as a byte is there, or after waitMs; not waiting: at once.
bool ComPort::SetReadWait(uint32_t waitMs) {
    COMMTIMEOUTS timeouts = timeouts_;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = waitMs > 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    return SetTimeouts(timeouts);
}

int32_t ComPort::Write(const uint8_t* data, int32_t length, uint32_t waitMs) {
    return MoveWithin(waitMs, kPortWriteFailed, [&](uint32_t leftMs, DWORD* written) {
        // The whole frame in one write, so that no gap opens in it where a stray byte from the
        // boot loader would make the sender abandon it half-sent. No wait at all would be none
        // to the driver: a write with both values 0 never times out.
        COMMTIMEOUTS timeouts = timeouts_;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = std::max<uint32_t>(leftMs, 1);
        return SetTimeouts(timeouts) && api_.WriteFile(handle_, data, static_cast<DWORD>(length), written);
    });
}
