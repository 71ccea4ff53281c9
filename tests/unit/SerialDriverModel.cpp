#include "SerialDriverModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

// A time-out in ms from a start, saturating: no sum of DWORDs wraps to a short wait.
uint64_t SerialDriverModel::After(uint64_t startNs, uint64_t ms) {
    return ms >= (kNever - startNs) / kNsPerMs ? kNever : startNs + ms * kNsPerMs;
}

SerialDriverModel::SerialDriverModel(uint32_t startMs) : dcb(), startMs_(startMs) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
}

uint64_t SerialDriverModel::ToNs(uint32_t atMs) const {
    return std::max(nowNs_, static_cast<uint32_t>(atMs - startMs_) * kNsPerMs);
}

// Sleep: with the default system timer a sleep ends on the first timer tick at or after its
// time, so Sleep(10) lasts about 15.6 ms on Windows (and 10 ms under Wine, tickMs 0).
void SerialDriverModel::SleepMs(uint32_t ms) {
    sleeps.push_back(ms);
    uint64_t wakeNs = nowNs_ + ms * kNsPerMs;
    if (tickMs > 0 && ms > 0) {
        const uint64_t tickNs = static_cast<uint64_t>(std::llround(tickMs * kNsPerMs));
        wakeNs = (wakeNs + tickNs - 1) / tickNs * tickNs;
    }
    RunTo(wakeNs);
}

void SerialDriverModel::Schedule(uint32_t atMs, std::function<void()> event) {
    scheduled_.emplace(ToNs(atMs), std::move(event));
    RunTo(nowNs_);
}
void SerialDriverModel::PlugAt(uint32_t atMs, const std::wstring& portName) {
    Schedule(atMs, [=] { Present(portName); });
}
void SerialDriverModel::LineError(uint32_t atMs, DWORD ceFlags) {
    Schedule(atMs, [=] { RaiseError(ceFlags); });
}
void SerialDriverModel::StallAt(uint32_t atMs, bool stall) {
    Schedule(atMs, [=] {
        stalled = stall;
        StartNextByte();
    });
}
void SerialDriverModel::SendFrom(uint64_t atNs, const std::string& bytes) {
    const uint64_t startNs = std::max(atNs, incomingLineFreeNs_);
    for (size_t i = 0; i < bytes.size(); ++i)
        incoming_.emplace_back(startNs + (i + 1) * 10'000'000'000ull / lineBitsPerSecond, bytes[i]);
    if (!bytes.empty())
        incomingLineFreeNs_ = incoming_.back().first;
    RunTo(nowNs_);
}

// The device comes (back) under a name, or leaves: then its handle is dead, its queues and the
// bytes on their way are gone; the driver's settings stay for when it comes back.
void SerialDriverModel::Present(const std::wstring& portName) {
    present_ = !portName.empty();
    name_ = portName;
    if (present_)
        return;
    EndSession();
    incoming_.clear();
    txWrites_.clear();
    txLeft_ = 0;
    txInFlight_ = false;
}

// What the tracker sent and nobody read, and the errors nobody asked for, go with the session;
// bytes already queued for sending still leave. A new session starts with the settings kept.
void SerialDriverModel::EndSession() {
    live_ = nullptr;
    received_.clear();
    errors_ = 0;
    abortPending_ = false;
}

// ClearCommError: with fAbortOnError the driver fails every request from a line error until the
// application calls ClearCommError; without it the flags only accumulate. A closed port has no
// one to report to.
void SerialDriverModel::RaiseError(DWORD ceFlags) {
    if (!live_)
        return;
    errors_ |= ceFlags;
    abortPending_ = abortPending_ || dcb.fAbortOnError;
}

// A request on a COM handle. A handle of a device that has gone fails every request, as a USB
// bridge's handle does after the device is pulled. With fAbortOnError the driver fails every
// request while a line error is pending, settings and purges included, except the status query
// ClearCommError makes (the driver samples' serial driver, which many bridge drivers follow).
bool SerialDriverModel::Usable(HANDLE handle, bool abortable) {
    RunTo(nowNs_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        ADD_FAILURE() << "a communications call on handle " << handle << ", which is not open";
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (found->second)
        return Fail(ERROR_INVALID_FUNCTION);  // a disk file takes no serial requests
    if (handle != live_)
        return Fail(ERROR_BAD_COMMAND);
    if (abortable && abortPending_)
        return Fail(ERROR_OPERATION_ABORTED);
    return true;
}

// CreateFile on a communications resource: exclusive access, so a second open of a port that is
// open fails with ERROR_ACCESS_DENIED; an absent port is ERROR_FILE_NOT_FOUND.
HANDLE SerialDriverModel::CreateFileW(const wchar_t* path,
                                      DWORD /*access*/,
                                      DWORD share,
                                      DWORD disposition,
                                      DWORD flags) {
    RunTo(nowNs_);
    if (flags & FILE_FLAG_OVERLAPPED)
        ADD_FAILURE() << "an overlapped open: the seam's reads and writes carry no OVERLAPPED";
    const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    const bool file = files_.count(path) != 0;
    const wchar_t* name = std::wcsncmp(path, L"\\\\.\\", 4) == 0 ? path + 4 : path;
    if (!file) {
        if (share != 0 || disposition != OPEN_EXISTING)
            ADD_FAILURE() << "a COM port is opened with share mode 0 and OPEN_EXISTING";
        const DWORD error = !present_ || _wcsicmp(name, name_.c_str()) != 0 ? ERROR_FILE_NOT_FOUND
                            : live_                                         ? ERROR_ACCESS_DENIED
                                                                            : ERROR_SUCCESS;
        if (error != ERROR_SUCCESS) {
            ++failedOpens;
            Fail(error);
            return INVALID_HANDLE_VALUE;
        }
        live_ = handle;
    }
    nextHandle_ += 4;
    handles_[handle] = file;
    ++opens;
    if (peer && !file)
        peer->Opened(NowMs());
    return handle;
}

// Closing a handle works even when its device has gone.
BOOL SerialDriverModel::CloseHandle(HANDLE handle) {
    RunTo(nowNs_);
    if (!handles_.erase(handle)) {
        ADD_FAILURE() << "CloseHandle on handle " << handle << ", which is not open";
        return Fail(ERROR_INVALID_HANDLE);
    }
    ++closes;
    if (handle == live_ && peer)
        peer->Closed(NowMs());
    if (handle == live_)
        EndSession();
    return TRUE;
}

DWORD SerialDriverModel::GetFileType(HANDLE handle) {
    if (IsFile(handle))
        return FILE_TYPE_DISK;
    lastError_ = ERROR_SUCCESS;
    return Usable(handle, false) ? FILE_TYPE_CHAR : FILE_TYPE_UNKNOWN;
}

BOOL SerialDriverModel::SetCommState(HANDLE handle, DCB* state) {
    return Copy(handle, *state, dcb,
                refuseDcb || state->BaudRate == 0 || state->ByteSize < 5 || state->ByteSize > 8);
}

// ClearCommError: reports and clears the error flags, which lets requests through again after
// an error with fAbortOnError; answers while an error is pending.
BOOL SerialDriverModel::ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) {
    if (!Usable(handle, false))
        return FALSE;
    if (errors)
        *errors = errors_;
    if (status) {
        *status = COMSTAT();
        status->cbInQue = static_cast<DWORD>(received_.size());
        status->cbOutQue = static_cast<DWORD>(TxUnsent());
    }
    errors_ = 0;
    abortPending_ = false;
    return TRUE;
}

// PurgeComm: RXCLEAR empties the receive queue, TXCLEAR drops what has not left yet; the ABORT
// flags cancel pending requests, of which synchronous use has none.
BOOL SerialDriverModel::PurgeComm(HANDLE handle, DWORD flags) {
    if (!Usable(handle, true))
        return FALSE;
    if (flags & PURGE_RXCLEAR)
        received_.clear();
    if (flags & PURGE_TXCLEAR)
        DropUnsent(false);
    return TRUE;
}

// FlushFileBuffers on a communications device waits until the transmit queue is empty; no write
// time-out bounds it.
BOOL SerialDriverModel::FlushFileBuffers(HANDLE handle) {
    return Usable(handle, true) &&
           WaitFor([this] { return TxUnsent() == 0; }, [] { return kNever; },
                   "FlushFileBuffers on a line that never takes the queued bytes") == Wait::kDone;
}

BOOL SerialDriverModel::ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead) {
    *bytesRead = 0;
    if (IsFile(handle))
        return TRUE;  // the end of the file
    if (!Usable(handle, true))
        return FALSE;
    const COMMTIMEOUTS t = timeouts;
    const uint64_t startNs = nowNs_;
    Wait wait = Wait::kDone;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        // COMMTIMEOUTS: MAXDWORD interval with zero total time-outs: return at once with what has
        // been received.
    } else if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
               t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
        // COMMTIMEOUTS: MAXDWORD interval and multiplier, 0 < constant < MAXDWORD: bytes waiting
        // are returned at once; else the read returns as soon as a byte arrives, or times out
        // after the constant.
        const uint64_t deadlineNs = After(startNs, t.ReadTotalTimeoutConstant);
        wait = WaitFor([this] { return !received_.empty(); }, [=] { return deadlineNs; }, "");
    } else if (t.ReadIntervalTimeout == 0 && t.ReadTotalTimeoutMultiplier == 0 &&
               t.ReadTotalTimeoutConstant == 0) {
        // COMMTIMEOUTS: no time-outs at all: the read returns only when the buffer is full, which
        // on a user's PC may be never. A port has these when no application set any.
        ADD_FAILURE() << "ReadFile of " << size << " bytes with all-zero time-outs waits until "
                      << "that many bytes have come, or forever";
        return Fail(ERROR_GEN_FAILURE);
    } else {
        // COMMTIMEOUTS: total time-out = multiplier x bytes requested + constant (both zero:
        // none); the interval time-out runs between bytes once the first has come.
        const uint64_t totalMs = uint64_t{t.ReadTotalTimeoutMultiplier} * size + t.ReadTotalTimeoutConstant;
        const uint64_t totalNs = totalMs == 0 ? kNever : After(startNs, totalMs);
        const DWORD intervalMs = t.ReadIntervalTimeout;
        wait = WaitFor([=] { return received_.size() >= size; },
                       [=] {
                           if (intervalMs == 0 || received_.empty())
                               return totalNs;
                           return std::min(totalNs, After(std::max(startNs, lastArrivalNs_), intervalMs));
                       },
                       "ReadFile with an interval time-out only, on a line that stays silent");
    }
    if (wait == Wait::kFailed)
        return FALSE;
    const size_t count = std::min<size_t>(size, received_.size());
    std::copy_n(received_.begin(), count, static_cast<char*>(buffer));
    received_.erase(received_.begin(), received_.begin() + count);
    *bytesRead = static_cast<DWORD>(count);
    return TRUE;
}

BOOL SerialDriverModel::WriteFile(HANDLE handle, const void* data, DWORD size, DWORD* bytesWritten) {
    *bytesWritten = 0;
    const std::string bytes(static_cast<const char*>(data), size);
    if (IsFile(handle)) {
        fileWrites += bytes;
        *bytesWritten = size;
        return TRUE;
    }
    if (!Usable(handle, true))
        return FALSE;
    if (size == 0)
        return TRUE;
    // Write time-out = multiplier x bytes + constant, in 64 bits: for writes MAXDWORD is just a
    // number, and MAXDWORD x 1 + 100 ms is 49.7 days, not 99 ms. Both zero: no time-out.
    const uint64_t totalMs =
        uint64_t{timeouts.WriteTotalTimeoutMultiplier} * size + timeouts.WriteTotalTimeoutConstant;
    const uint64_t deadlineNs = totalMs == 0 ? kNever : After(nowNs_, totalMs);
    const char* hang = "WriteFile with no write time-out on a line that never takes its bytes";
    // The driver takes the bytes into its transmit queue at once unless the line is stalled; a
    // write that times out before has written nothing.
    Wait wait = completesAsBytesLeave
                    ? Wait::kDone
                    : WaitFor([this] { return !stalled; }, [=] { return deadlineNs; }, hang);
    if (wait != Wait::kDone)
        return wait == Wait::kTimedOut;
    txWrites_.push_back(bytes);
    StartNextByte();
    // A bridge that completes a write as its last byte leaves: at the time-out, or when the write
    // is cancelled, the bytes not yet sent are taken back and the count says how many left.
    if (completesAsBytesLeave)
        wait = WaitFor([this] { return TxUnsent() == 0; }, [=] { return deadlineNs; }, hang);
    if (wait == Wait::kDone) {
        *bytesWritten = size;
        return TRUE;
    }
    *bytesWritten = txWrites_.empty() ? 0 : static_cast<DWORD>(size - DropUnsent(true));
    return wait == Wait::kTimedOut;
}

// Lets time run until done() holds (kDone), the deadline passes (kTimedOut), or the device goes
// or a line error with fAbortOnError cancels the request at that moment (kFailed).
SerialDriverModel::Wait SerialDriverModel::WaitFor(const std::function<bool()>& done,
                                                   const std::function<uint64_t()>& deadline,
                                                   const char* hang) {
    for (;;) {
        if (!live_ || abortPending_) {
            Fail(live_ ? ERROR_OPERATION_ABORTED : ERROR_BAD_COMMAND);
            return Wait::kFailed;
        }
        if (done())
            return Wait::kDone;
        const uint64_t untilNs = deadline();
        if (nowNs_ >= untilNs)
            return Wait::kTimedOut;
        const uint64_t nextNs = NextEventNs();
        if (nextNs == kNever && untilNs == kNever) {
            ADD_FAILURE() << hang << ": it would never return";
            Fail(ERROR_GEN_FAILURE);
            return Wait::kFailed;
        }
        RunTo(std::min(nextNs, untilNs));
    }
}

uint64_t SerialDriverModel::NextEventNs() const {
    return std::min({scheduled_.empty() ? kNever : scheduled_.begin()->first,
                     incoming_.empty() ? kNever : incoming_.front().first,
                     txInFlight_ ? txByteEndNs_ : kNever});
}

void SerialDriverModel::RunTo(uint64_t ns) {
    while (NextEventNs() <= ns)
        Step();
    nowNs_ = std::max(nowNs_, ns);
}

// Applies the earliest event; at equal times in the order below. The peer may add events from
// its callback, which the caller's loop then sees.
void SerialDriverModel::Step() {
    const uint64_t at = NextEventNs();
    nowNs_ = std::max(nowNs_, at);
    if (!scheduled_.empty() && scheduled_.begin()->first == at) {
        const std::function<void()> event = std::move(scheduled_.begin()->second);
        scheduled_.erase(scheduled_.begin());
        event();
    } else if (!incoming_.empty() && incoming_.front().first == at) {
        // A byte from the tracker: lost on a closed port; lost with CE_RXOVER when the receive
        // queue (4096 bytes unless SetupComm asks for more) is full.
        const char byte = incoming_.front().second;
        incoming_.pop_front();
        if (live_ && received_.size() >= receiveQueueBytes) {
            RaiseError(CE_RXOVER);
        } else if (live_) {
            received_.push_back(byte);
            lastArrivalNs_ = at;
        }
    } else {
        txInFlight_ = false;
        txLastLeftNs_ = at;
        std::string sent;
        if (++txLeft_ == txWrites_.front().size()) {
            sent.swap(txWrites_.front());
            txWrites_.pop_front();
            txLeft_ = 0;
        }
        StartNextByte();
        if (peer && !sent.empty())
            peer->Received(sent, NowMs());
    }
}

// The next queued byte goes onto the wire once the line is free and not stalled; a byte already
// on the wire finishes even if the line stalls meanwhile.
void SerialDriverModel::StartNextByte() {
    if (txInFlight_ || stalled || TxUnsent() == 0)
        return;
    txByteEndNs_ = std::max(nowNs_, outgoingLineFreeNs_) + ByteNs();
    outgoingLineFreeNs_ = txByteEndNs_;
    txInFlight_ = true;
}

size_t SerialDriverModel::TxUnsent() const {
    size_t unsent = 0;
    for (const std::string& write : txWrites_)
        unsent += write.size();
    return unsent - txLeft_;
}

// Drops the bytes that have not left, of every queued write or of the last one only, and returns
// how many of the last one's were dropped. The tracker gets the part of a write that left.
size_t SerialDriverModel::DropUnsent(bool lastWriteOnly) {
    size_t dropped = 0;
    while (!txWrites_.empty()) {
        std::string write = std::move(txWrites_.back());
        txWrites_.pop_back();
        dropped = write.size();
        if (txWrites_.empty()) {  // the write that is leaving
            dropped -= txLeft_;
            txInFlight_ = false;
            if (peer && txLeft_ > 0)
                peer->Received(write.substr(0, txLeft_),
                               startMs_ + static_cast<uint32_t>(txLastLeftNs_ / kNsPerMs));
            txLeft_ = 0;
        }
        if (lastWriteOnly)
            break;
    }
    return dropped;
}
