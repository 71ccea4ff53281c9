// Windows-only: the log file through its Win32 handle, stamped with the local time.
#include "log/LogFile.h"

#include <cstdio>
#include <cstring>

namespace {

// Every run's first line, after its time stamp ("2026-12-08 05:54:19.123 ").
const char kRunStart[] = "=== run start";
constexpr size_t kStampChars = 24;

// The local time to the millisecond and a blank, in stamp.
void Stamp(char (&stamp)[kStampChars + 1]) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    (void)std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth,
                        now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
}

}  // namespace

// Shared for reading only: a support person may read the log while the program runs, and a
// second copy of the program, which cannot open it, writes none.
LogFile::LogFile(const wchar_t* path, uint32_t limitBytes)
    : file_(::CreateFileW(path,
                          GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ,
                          nullptr,
                          OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL,
                          nullptr)),
      limitBytes_(limitBytes) {
    KeepNewestRuns();
    WriteLine(kRunStart);
}

LogFile::~LogFile() {
    if (file_ != INVALID_HANDLE_VALUE)
        ::CloseHandle(file_);
}

// The file is rewritten in place: a program killed meanwhile loses older runs, never this one's
// lines, which come after.
void LogFile::KeepNewestRuns() {
    LARGE_INTEGER size;
    if (file_ == INVALID_HANDLE_VALUE || !::GetFileSizeEx(file_, &size))
        return;
    const uint32_t keepBytes = limitBytes_ / 2;
    sizeBytes_ = static_cast<uint64_t>(size.QuadPart);
    if (sizeBytes_ > keepBytes) {
        // The newest bytes that may stay, and the one before them, to see whether they begin a line.
        std::string tail(keepBytes + 1, '\0');
        LARGE_INTEGER from;
        from.QuadPart = static_cast<LONGLONG>(sizeBytes_ - tail.size());
        DWORD got = 0;
        if (!::SetFilePointerEx(file_, from, nullptr, FILE_BEGIN) ||
            !::ReadFile(file_, tail.data(), static_cast<DWORD>(tail.size()), &got, nullptr) ||
            got != tail.size())
            tail.clear();
        // The oldest run that begins in the tail, and every one after it.
        size_t keepFrom = tail.size();
        for (size_t at = tail.find('\n'); at != std::string::npos; at = tail.find('\n', at + 1)) {
            if (at + 1 + kStampChars <= tail.size() &&
                tail.compare(at + 1 + kStampChars, sizeof kRunStart - 1, kRunStart) == 0) {
                keepFrom = at + 1;
                break;
            }
        }
        DWORD written = 0;
        const LARGE_INTEGER start = {};
        ::SetFilePointerEx(file_, start, nullptr, FILE_BEGIN);
        ::WriteFile(file_, tail.data() + keepFrom, static_cast<DWORD>(tail.size() - keepFrom), &written,
                    nullptr);
        ::SetEndOfFile(file_);
        sizeBytes_ = written;
    }
    const LARGE_INTEGER none = {};
    ::SetFilePointerEx(file_, none, nullptr, FILE_END);
}

// One WriteFile a line, under one lock: lines of the page and the worker threads never mix, and a
// line is the system's as soon as the call returns, so a program killed after it leaves the line
// whole in the file. Writing through to the disk as well would guard only against the PC losing
// power, at the cost of a disk write per line during the upload and the restore.
void LogFile::WriteLine(const std::string& text) {
    AcquireSRWLockExclusive(&lock_);
    char stamp[kStampChars + 1];
    Stamp(stamp);
    line_.assign(stamp, kStampChars);
    line_ += text;
    line_ += "\r\n";
    DWORD written = 0;
    if (file_ != INVALID_HANDLE_VALUE && sizeBytes_ + line_.size() <= limitBytes_ &&
        ::WriteFile(file_, line_.data(), static_cast<DWORD>(line_.size()), &written, nullptr))
        sizeBytes_ += written;
    ReleaseSRWLockExclusive(&lock_);
}
