// The Windows serial driver behind CommApi, on virtual time, for unit tests. What each call
// returns follows from the settings the code gave the port (DCB, COMMTIMEOUTS), the bytes and
// faults on the line, and the time; nothing is scripted per call. Time moves only while a call
// waits (a read, a write, a flush, a sleep); what the tracker sends, line errors, a stalled line
// and the device leaving or coming back take effect as time reaches them. Where Windows and Wine
// differ, the model plays Windows (design.md, "Where Wine is kinder than Windows").
//
// Code that would hang on a user's PC (a read with all-zero time-outs, a write or flush with no
// time-out on a line that never takes its bytes) or uses a handle it does not hold is reported with
// ADD_FAILURE, and the call fails at once instead of hanging the test.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/CommApi.h"

// The tracker's end of the line.
struct LinePeer {
    virtual ~LinePeer() = default;
    virtual void Opened(uint32_t /*ms*/) {}
    virtual void Closed(uint32_t /*ms*/) {}
    // The bytes of one write, at the time the last of them left the PC (or, for a write cut short by
    // its time-out or a purge, the part that left).
    virtual void Received(const std::string& /*bytes*/, uint32_t /*ms*/) {}
};

class SerialDriverModel : public CommApi, public Clock {
public:
    explicit SerialDriverModel(uint32_t startMs = 1000);

    HANDLE CreateFileW(const wchar_t* path,
                       DWORD access,
                       DWORD share,
                       DWORD disposition,
                       DWORD flags) override;
    BOOL CloseHandle(HANDLE handle) override;
    BOOL ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead) override;
    BOOL WriteFile(HANDLE handle, const void* data, DWORD size, DWORD* bytesWritten) override;
    DWORD GetLastError() override { return lastError_; }
    DWORD GetFileType(HANDLE handle) override;
    BOOL GetCommState(HANDLE handle, DCB* state) override { return Copy(handle, dcb, *state, false); }
    BOOL SetCommState(HANDLE handle, DCB* state) override;
    BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* values) override {
        return Copy(handle, timeouts, *values, false);
    }
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* values) override {
        return Copy(handle, *values, timeouts, refuseTimeouts);
    }
    BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) override;
    BOOL PurgeComm(HANDLE handle, DWORD flags) override;
    BOOL FlushFileBuffers(HANDLE handle) override;

    uint32_t NowMs() override { return startMs_ + static_cast<uint32_t>(nowNs_ / kNsPerMs); }
    void SleepMs(uint32_t ms) override;
    void Advance(uint32_t ms) { RunTo(nowNs_ + ms * kNsPerMs); }

    // The device, present as portName ("COM7", opened as "\\.\COM7"). Unplugged, every call on a
    // handle of it fails; plugged again, under any name, it is the same device with the same
    // driver settings. Times are on this clock (NowMs); a time already past means now.
    void PlugAt(uint32_t atMs, const std::wstring& portName);
    void Plug(const std::wstring& portName) { PlugAt(NowMs(), portName); }
    void UnplugAt(uint32_t atMs) { PlugAt(atMs, L""); }
    void Unplug() { UnplugAt(NowMs()); }
    void PlugFile(const std::wstring& path) { files_.insert(path); }  // opens as a disk file
    bool IsOpen() const { return live_ != nullptr; }

    // The tracker's side of the line: bytes sent from atMs on, one after another at the line rate,
    // after anything sent before; a line error (CE_FRAME...); the line stalling (true) or moving
    // again (false).
    void Send(uint32_t atMs, const std::string& bytes) { SendFrom(ToNs(atMs), bytes); }
    void SendIn(uint32_t delayMs, const std::string& bytes) { SendFrom(nowNs_ + delayMs * kNsPerMs, bytes); }
    void LineError(uint32_t atMs, DWORD ceFlags);
    void StallAt(uint32_t atMs, bool stall = true);

    // What the driver keeps from one open to the next: a test sets what a previous application
    // left, and reads what the code set.
    DCB dcb;                     // 9600 8N1, fBinary, no fAbortOnError
    COMMTIMEOUTS timeouts = {};  // all zero
    bool refuseDcb = false;      // SetCommState fails with ERROR_INVALID_PARAMETER
    bool refuseTimeouts = false;

    uint32_t lineBitsPerSecond = 115200;  // both ways, 10 bits a byte
    bool completesAsBytesLeave = false;   // a write returns only once its last byte has left
    bool stalled = false;                 // the line takes no bytes from the PC
    size_t receiveQueueBytes = 4096;
    double tickMs = 0;  // 15.625 plays Windows' default timer: a sleep ends on a tick
    LinePeer* peer = nullptr;

    std::vector<uint32_t> sleeps;
    int opens = 0;  // successful CreateFileW, ports and files
    int closes = 0;
    int failedOpens = 0;
    std::string fileWrites;  // bytes written to a file opened through PlugFile

private:
    enum class Wait { kDone, kTimedOut, kFailed };
    static constexpr uint64_t kNever = UINT64_MAX;
    // Time runs in nanoseconds: a byte at 115200 bit/s takes 86.8 us, and an upload of thousands
    // of frames must not drift by rounding each byte to a whole microsecond.
    static constexpr uint64_t kNsPerMs = 1'000'000;
    static uint64_t After(uint64_t startNs, uint64_t ms);

    uint64_t ToNs(uint32_t atMs) const;
    uint64_t ByteNs() const { return 10'000'000'000ull / lineBitsPerSecond; }
    void SendFrom(uint64_t atNs, const std::string& bytes);
    bool Fail(DWORD error) {
        lastError_ = error;
        return false;
    }
    bool Usable(HANDLE handle, bool abortable);
    bool IsFile(HANDLE handle) const { return handles_.count(handle) && handles_.at(handle); }
    // A settings request, refused (ERROR_INVALID_PARAMETER) with the settings as they were.
    template <class T>
    BOOL Copy(HANDLE handle, const T& from, T& to, bool refuse) {
        if (!Usable(handle, true))
            return FALSE;
        if (refuse)
            return Fail(ERROR_INVALID_PARAMETER);
        to = from;
        return TRUE;
    }
    Wait WaitFor(const std::function<bool()>& done,
                 const std::function<uint64_t()>& deadline,
                 const char* hang);
    uint64_t NextEventNs() const;
    void RunTo(uint64_t ns);
    void Step();
    void Schedule(uint32_t atMs, std::function<void()> event);
    void Present(const std::wstring& portName);
    void EndSession();
    void RaiseError(DWORD ceFlags);
    void StartNextByte();
    size_t TxUnsent() const;
    size_t DropUnsent(bool lastWriteOnly);

    uint32_t startMs_;
    uint64_t nowNs_ = 0;
    DWORD lastError_ = ERROR_SUCCESS;
    std::set<std::wstring> files_;
    std::map<HANDLE, bool> handles_;  // true: a disk file
    uintptr_t nextHandle_ = 0x1000;
    bool present_ = false;
    std::wstring name_;
    HANDLE live_ = nullptr;  // the open handle of the present device
    DWORD errors_ = 0;
    bool abortPending_ = false;

    std::multimap<uint64_t, std::function<void()>> scheduled_;  // device and line events
    std::deque<std::pair<uint64_t, char>> incoming_;            // the tracker's bytes and their arrival
    uint64_t incomingLineFreeNs_ = 0;
    std::deque<char> received_;  // the driver's receive queue
    uint64_t lastArrivalNs_ = 0;

    std::deque<std::string> txWrites_;  // queued writes; the front one is leaving
    size_t txLeft_ = 0;                 // bytes of the front write that have left
    bool txInFlight_ = false;
    uint64_t txByteEndNs_ = 0;
    uint64_t txLastLeftNs_ = 0;
    uint64_t outgoingLineFreeNs_ = 0;
};
