// The Windows serial driver behind CommApi, on virtual time (it moves only while a call waits), playing
// Windows where Wine differs. Calls that would hang on a user's PC, use a handle not held or a read mode
// the program does not use get ADD_FAILURE and fail at once.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "link/Clock.h"
#include "link/CommApi.h"

// The tracker's end of the line.
struct LinePeer {
    virtual ~LinePeer() = default;
    virtual void Opened(uint32_t /*ms*/) {}
    virtual void Closed(uint32_t /*ms*/) {}
    // One write's bytes (or the part that left before a time-out or purge), as the last of them left.
    virtual void Received(const std::string& /*bytes*/, uint32_t /*ms*/) {}
};

class SerialDriverModel : public CommApi, public Clock {
public:
    explicit SerialDriverModel(uint32_t startMs = 1000);

    HANDLE CreateFileW(const wchar_t* path, DWORD, DWORD, DWORD, DWORD) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead) override;
    BOOL WriteFile(HANDLE handle, const void* data, DWORD size, DWORD* bytesWritten) override;
    DWORD GetFileType(HANDLE h) override {
        return IsFile(h) ? FILE_TYPE_DISK : Usable(h, false) ? FILE_TYPE_CHAR : FILE_TYPE_UNKNOWN;
    }
    BOOL GetCommState(HANDLE h, DCB* s) override { return Copy(h, dcb, *s, false); }
    BOOL SetCommState(HANDLE h, DCB* s) override { return Copy(h, *s, dcb, refuseDcb || s->BaudRate == 0); }
    BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) override { return Copy(h, *t, timeouts, refuseTimeouts); }
    BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) override;
    BOOL PurgeComm(HANDLE handle, DWORD flags) override;
    BOOL FlushFileBuffers(HANDLE handle) override;

    uint32_t NowMs() override { return startMs_ + static_cast<uint32_t>(nowNs_ / kNsPerMs); }
    void SleepMs(uint32_t ms) override;

    // The device as portName ("COM7", opened as "\\.\COM7") or gone (""; every call on it fails); back
    // under any name with the same settings. Times are on this clock; a time past means now.
    void PlugAt(uint32_t atMs, const std::wstring& portName) {
        Schedule(atMs, [=] { Present(portName); });
    }
    void Plug(const std::wstring& portName) { PlugAt(NowMs(), portName); }
    void UnplugAt(uint32_t atMs) { PlugAt(atMs, L""); }
    void Unplug() { UnplugAt(NowMs()); }
    void PlugFile(const std::wstring& path) { files_.insert(path); }  // opens as a disk file
    bool IsOpen() const { return live_ != nullptr; }

    // The tracker's side: bytes at the line rate from atMs on, after earlier ones; line errors.
    void Send(uint32_t atMs, const std::string& bytes);
    void LineError(uint32_t atMs, DWORD ceFlags) {
        Schedule(atMs, [=] { RaiseError(ceFlags); });
    }

    // Kept by the driver from one open to the next.
    DCB dcb;                     // 9600 8N1, fBinary, no fAbortOnError
    COMMTIMEOUTS timeouts = {};  // all zero
    bool refuseDcb = false;      // SetCommState fails with ERROR_INVALID_PARAMETER
    bool refuseTimeouts = false;

    uint32_t lineBitsPerSecond = 115200;  // both ways, 10 bits a byte
    bool completesAsBytesLeave = false;   // a write returns only once its last byte has left
    bool stalled = false;                 // the line takes no bytes from the PC
    double tickMs = 0;                    // 15.625 plays Windows' default timer: a sleep ends on a tick
    LinePeer* peer = nullptr;
    std::string fileWrites;  // bytes written to a file opened through PlugFile

private:
    enum class Wait { kDone, kTimedOut, kFailed };
    static constexpr uint64_t kNever = UINT64_MAX;
    static constexpr uint64_t kNsPerMs = 1'000'000;  // ns: thousands of 86.8 us bytes must not drift
    static constexpr size_t kReceiveQueueBytes = 4096;

    uint64_t ToNs(uint32_t atMs) const;
    uint64_t ByteNs() const { return 10'000'000'000ull / lineBitsPerSecond; }
    // The error is the one Windows gives; the program looks only at the failure.
    bool Fail(DWORD /*error*/) { return false; }
    bool Usable(HANDLE handle, bool abortable);
    bool IsFile(HANDLE handle) const { return handles_.count(handle) && handles_.at(handle); }
    // A settings request; refused (ERROR_INVALID_PARAMETER), the settings stay as they were.
    template <class T>
    BOOL Copy(HANDLE handle, const T& from, T& to, bool refuse) {
        if (!Usable(handle, true))
            return FALSE;
        if (refuse)
            return Fail(ERROR_INVALID_PARAMETER);
        to = from;
        return TRUE;
    }
    Wait WaitFor(const std::function<bool()>& done, uint64_t deadlineNs);
    uint64_t NextEventNs() const;
    void RunTo(uint64_t ns);
    void Step();
    void Schedule(uint32_t atMs, std::function<void()> event) {
        scheduled_.emplace(ToNs(atMs), std::move(event));
        RunTo(nowNs_);
    }
    void Present(const std::wstring& portName);
    void EndSession();
    void RaiseError(DWORD ceFlags);
    void StartNextByte();
    size_t TxUnsent() const;
    size_t DropUnsent(bool lastWriteOnly);

    uint32_t startMs_;
    uint64_t nowNs_ = 0;
    std::set<std::wstring> files_;
    std::map<HANDLE, bool> handles_;  // true: a disk file
    uintptr_t nextHandle_ = 0x1000;
    std::wstring name_;      // empty: the device is gone
    HANDLE live_ = nullptr;  // the open handle of the present device
    DWORD errors_ = 0;
    bool abortPending_ = false;

    std::multimap<uint64_t, std::function<void()>> scheduled_;  // device and line events
    std::deque<std::pair<uint64_t, char>> incoming_;            // the tracker's bytes and their arrival
    std::deque<char> received_;                                 // the driver's receive queue

    std::deque<std::string> txWrites_;  // the unsent bytes of queued writes; the front one is leaving
    std::string txSent_;                // the bytes of the front write that have left
    bool txInFlight_ = false;
    uint64_t txByteEndNs_ = 0;  // when the byte on the wire (or the last one) is through
    uint64_t txLastLeftNs_ = 0;
};
