#include "SerialDriverModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

SerialDriverModel::SerialDriverModel(uint32_t startMs) : dcb(), startMs_(startMs) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.fBinary = TRUE;
}

uint64_t SerialDriverModel::ToNs(uint32_t atMs) const {
    return std::max(nowNs_, static_cast<uint32_t>(atMs - startMs_) * kNsPerMs);
}

// Sleep: on the default system timer a sleep ends on the first tick at or after its time.
void SerialDriverModel::SleepMs(uint32_t ms) {
    uint64_t wakeNs = nowNs_ + ms * kNsPerMs;
    if (tickMs > 0 && ms > 0) {
        const uint64_t tickNs = static_cast<uint64_t>(tickMs * kNsPerMs + 0.5);
        wakeNs = (wakeNs + tickNs - 1) / tickNs * tickNs;
    }
    RunTo(wakeNs);
}

void SerialDriverModel::Send(uint32_t atMs, const std::string& bytes) {
    const uint64_t startNs = std::max(ToNs(atMs), incoming_.empty() ? 0 : incoming_.back().first);
    for (size_t i = 0; i < bytes.size(); ++i)
        incoming_.emplace_back(startNs + (i + 1) * 10'000'000'000ull / lineBitsPerSecond, bytes[i]);
    RunTo(nowNs_);
}

// A device that leaves takes its handle, its queues and the bytes on their way; settings stay.
void SerialDriverModel::Present(const std::wstring& portName) {
    name_ = portName;
    if (!name_.empty())
        return;
    EndSession();
    incoming_.clear();
    txWrites_.clear();
    txSent_.clear();
    txInFlight_ = false;
}

// Unread bytes and unreported errors go with the session; queued bytes still leave.
void SerialDriverModel::EndSession() {
    live_ = nullptr;
    received_.clear();
    errors_ = 0;
    abortPending_ = false;
}

// With fAbortOnError a line error fails every request until ClearCommError; without, flags add up.
void SerialDriverModel::RaiseError(DWORD ceFlags) {
    if (!live_)
        return;
    errors_ |= ceFlags;
    abortPending_ = abortPending_ || dcb.fAbortOnError;
}

// A COM request: fails once the device has gone, and (abortable) while an abort-on-error is pending.
bool SerialDriverModel::Usable(HANDLE handle, bool abortable) {
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

// CreateFile on a COM port: exclusive (ERROR_ACCESS_DENIED while open); absent: ERROR_FILE_NOT_FOUND.
HANDLE SerialDriverModel::CreateFileW(const wchar_t* path, DWORD, DWORD, DWORD, DWORD) {
    const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    const bool file = files_.count(path) != 0;
    if (!file) {
        const wchar_t* name = std::wcsncmp(path, L"\\\\.\\", 4) == 0 ? path + 4 : path;
        const bool here = !name_.empty() && _wcsicmp(name, name_.c_str()) == 0;
        if (!here || live_) {
            Fail(here ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        live_ = handle;
    }
    nextHandle_ += 4;
    handles_[handle] = file;
    if (peer && !file)
        peer->Opened(NowMs());
    return handle;
}

// Closing a handle works even when its device has gone.
BOOL SerialDriverModel::CloseHandle(HANDLE handle) {
    if (!handles_.erase(handle)) {
        ADD_FAILURE() << "CloseHandle on handle " << handle << ", which is not open";
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (handle == live_ && peer)
        peer->Closed(NowMs());
    if (handle == live_)
        EndSession();
    return TRUE;
}

// ClearCommError reports and clears the error flags, and answers while an error is pending.
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

// PurgeComm: RXCLEAR empties the receive queue, TXCLEAR drops what has not left.
BOOL SerialDriverModel::PurgeComm(HANDLE handle, DWORD flags) {
    if (!Usable(handle, true))
        return FALSE;
    if (flags & PURGE_RXCLEAR)
        received_.clear();
    if (flags & PURGE_TXCLEAR)
        DropUnsent(false);
    return TRUE;
}

// FlushFileBuffers waits until the transmit queue is empty; no write time-out bounds it.
BOOL SerialDriverModel::FlushFileBuffers(HANDLE handle) {
    return Usable(handle, true) && WaitFor([this] { return TxUnsent() == 0; }, kNever) == Wait::kDone;
}

BOOL SerialDriverModel::ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead) {
    *bytesRead = 0;
    if (!Usable(handle, true))
        return FALSE;
    // Used: MAXDWORD interval, zero totals: return at once with what has come; MAXDWORD interval and
    // multiplier, 0 < constant < MAXDWORD: return once a byte is in, or after the constant.
    const COMMTIMEOUTS t = timeouts;
    const bool waits = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                       t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
    if (!waits &&
        (t.ReadIntervalTimeout != MAXDWORD || t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant)) {
        ADD_FAILURE() << "ReadFile in a read mode the program does not use (all zero: may wait for ever)";
        return Fail(ERROR_GEN_FAILURE);
    }
    const uint64_t deadlineNs = nowNs_ + t.ReadTotalTimeoutConstant * kNsPerMs;
    if (waits && WaitFor([this] { return !received_.empty(); }, deadlineNs) == Wait::kFailed)
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
    // Time-out = multiplier x bytes + constant in 64 bits (MAXDWORD is just a number); both 0: none.
    const uint64_t totalMs =
        uint64_t{timeouts.WriteTotalTimeoutMultiplier} * size + timeouts.WriteTotalTimeoutConstant;
    const uint64_t deadlineNs =
        totalMs == 0 || totalMs >= (kNever - nowNs_) / kNsPerMs ? kNever : nowNs_ + totalMs * kNsPerMs;
    // Queued at once unless the line is stalled; a time-out before that writes nothing, and is TRUE.
    Wait wait = completesAsBytesLeave ? Wait::kDone : WaitFor([this] { return !stalled; }, deadlineNs);
    if (wait != Wait::kDone)
        return wait == Wait::kTimedOut;
    txWrites_.push_back(bytes);
    StartNextByte();
    // completesAsBytesLeave: at the time-out, what has not left is taken back; the count says the rest.
    if (completesAsBytesLeave)
        wait = WaitFor([this] { return TxUnsent() == 0; }, deadlineNs);
    if (wait == Wait::kDone) {
        *bytesWritten = size;
        return TRUE;
    }
    *bytesWritten = txWrites_.empty() ? 0 : static_cast<DWORD>(size - DropUnsent(true));
    return wait == Wait::kTimedOut;
}

// Lets time run until done() (kDone) or the deadline (kTimedOut); the device going or an
// abort-on-error cancels the request at that moment (kFailed).
SerialDriverModel::Wait SerialDriverModel::WaitFor(const std::function<bool()>& done, uint64_t deadlineNs) {
    for (;;) {
        if (!live_ || abortPending_) {
            Fail(live_ ? ERROR_OPERATION_ABORTED : ERROR_BAD_COMMAND);
            return Wait::kFailed;
        }
        if (done())
            return Wait::kDone;
        if (nowNs_ >= deadlineNs)
            return Wait::kTimedOut;
        const uint64_t nextNs = NextEventNs();
        if (nextNs == kNever && deadlineNs == kNever) {
            ADD_FAILURE() << "a write or flush with no time-out on a line that never takes its bytes";
            Fail(ERROR_GEN_FAILURE);
            return Wait::kFailed;
        }
        RunTo(std::min(nextNs, deadlineNs));
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

// Applies the earliest event, at equal times in the order below. The peer may add events.
void SerialDriverModel::Step() {
    const uint64_t at = NextEventNs();
    nowNs_ = std::max(nowNs_, at);
    if (!scheduled_.empty() && scheduled_.begin()->first == at) {
        const std::function<void()> event = std::move(scheduled_.begin()->second);
        scheduled_.erase(scheduled_.begin());
        event();
        StartNextByte();  // a line that moves again
    } else if (!incoming_.empty() && incoming_.front().first == at) {
        // A byte from the tracker: lost on a closed port; past a full receive queue, CE_RXOVER.
        const char byte = incoming_.front().second;
        incoming_.pop_front();
        if (live_ && received_.size() >= kReceiveQueueBytes)
            RaiseError(CE_RXOVER);
        else if (live_)
            received_.push_back(byte);
    } else {
        txInFlight_ = false;
        txLastLeftNs_ = at;
        txSent_ += txWrites_.front()[0];
        txWrites_.front().erase(0, 1);
        std::string sent;
        if (txWrites_.front().empty()) {
            txWrites_.pop_front();
            sent.swap(txSent_);
        }
        StartNextByte();
        if (peer && !sent.empty())
            peer->Received(sent, NowMs());
    }
}

// The next byte goes onto the wire once it is free and not stalled; a byte on the wire finishes.
void SerialDriverModel::StartNextByte() {
    if (txInFlight_ || stalled || TxUnsent() == 0)
        return;
    txByteEndNs_ = std::max(nowNs_, txByteEndNs_) + ByteNs();
    txInFlight_ = true;
}

size_t SerialDriverModel::TxUnsent() const {
    size_t unsent = 0;
    for (const std::string& write : txWrites_)
        unsent += write.size();
    return unsent;
}

// Drops what has not left of the last write (or all); returns that count. The tracker gets what left.
size_t SerialDriverModel::DropUnsent(bool lastWriteOnly) {
    const size_t dropped = txWrites_.empty() ? 0 : txWrites_.back().size();
    if (lastWriteOnly && !txWrites_.empty())
        txWrites_.pop_back();
    else
        txWrites_.clear();
    if (!txWrites_.empty())
        return dropped;
    txInFlight_ = false;
    if (peer && !txSent_.empty())
        peer->Received(txSent_, startMs_ + static_cast<uint32_t>(txLastLeftNs_ / kNsPerMs));
    txSent_.clear();
    return dropped;
}
