// The support log's file, KV_Firmware_Tool.log beside back.pro in the user's temporary folder:
// UTF-8, one line per event after the local time to the millisecond, each run beginning with its
// own start line. Bounded: the oldest runs give way, and no run grows the file past the limit.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "log/SupportLog.h"

constexpr uint32_t kLogLimitBytes = 1024 * 1024;

class LogFile final : public LogSink {
public:
    // Opens the log and begins a run: of the runs before, only the newest whole ones that fit in
    // half the limit stay, so this one has the other half. A log that cannot be opened takes no
    // line.
    explicit LogFile(const wchar_t* path, uint32_t limitBytes = kLogLimitBytes);
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() override;

    void WriteLine(const std::string& text) override;

private:
    void KeepNewestRuns();

    SRWLOCK lock_ = SRWLOCK_INIT;
    HANDLE file_;
    const uint32_t limitBytes_;
    uint64_t sizeBytes_ = 0;
    std::string line_;  // the line being written, under the lock
};
