#include "settings/BackupFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "settings/StdioFileEx.h"
#include "log/SupportLog.h"
#include "log/TemporaryFolder.h"

namespace {

// A save is written beside the backup as "back.pro.<process id>.tmp" and renamed over it.
const wchar_t kTemporarySuffix[] = L".tmp";
// The backups that came before, newest first. None of them ends in ".tmp", so the clean-up of
// leftovers can never take one.
const wchar_t* const kGenerations[] = {L".bak", L".bak2", L".bak3"};

// A drive and its root ("C:\") or a network share ("\\"). A relative path, or none, would put
// the backup and the clean-up of its leftovers in whatever folder the program was started from.
bool IsAbsolute(const wchar_t* path) {
    if (path == nullptr)
        return false;
    const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    return (letter && path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\');
}

// A command written only up to its NUL would run into the next one on the same line.
bool HoldsNul(const std::wstring& command) {
    return command.find(L'\0') != std::wstring::npos;
}

std::wstring TemporaryPath(const std::wstring& backup) {
    return backup + L"." + std::to_wstring(::GetCurrentProcessId()) + kTemporarySuffix;
}

// Files that an earlier save left when it was cut short. One that another save still holds
// open cannot be deleted and stays.
void RemoveLeftovers(const std::wstring& backup) {
    const std::wstring pattern = backup + L".*" + kTemporarySuffix;
    const std::wstring folder = backup.substr(0, backup.find_last_of(L"\\/") + 1);
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            ::DeleteFileW((folder + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

// True when every command is written and on the disk, and the file closed.
bool WriteCommands(const std::wstring& path, const std::vector<std::wstring>& commands) {
    CStdioFileEx file;
    try {
        if (!file.Open(path.c_str(),
                       CStdioFileEx::typeUnicode | CFile::typeText | CFile::modeCreate | CFile::modeWrite))
            return false;
        for (const std::wstring& command : commands)
            file.WriteString(command.c_str());
        // The rename must not reach the disk before the content it names.
        if (std::fflush(file.m_pStream) != 0 || !::FlushFileBuffers(file.m_hFile))
            return false;
        file.Close();
    } catch (CException* e) {
        e->Delete();
        return false;
    }
    return true;
}

// A file to read beside whatever other program has it open.
HANDLE OpenToRead(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// True when both files can be read and hold the same bytes.
bool SameBytes(const std::wstring& first, const std::wstring& second) {
    const HANDLE a = OpenToRead(first);
    const HANDLE b = OpenToRead(second);
    bool same = a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE;
    char bytesA[4096];
    char bytesB[4096];
    // A read of a file comes up short only at its end.
    for (DWORD countA = sizeof bytesA, countB = 0; same && countA == sizeof bytesA;) {
        same = ::ReadFile(a, bytesA, sizeof bytesA, &countA, nullptr) &&
               ::ReadFile(b, bytesB, sizeof bytesB, &countB, nullptr) && countA == countB &&
               std::memcmp(bytesA, bytesB, countA) == 0;
    }
    for (const HANDLE file : {a, b}) {
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
    }
    return same;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The backup about to be replaced is kept beside it as the newest generation, and the ones before
// move one name older as far as the first free name; the oldest is given up only when every name
// is taken. A user whose restore did not happen and who runs the upgrade again would otherwise
// lose their settings to the factory ones. A save that failed after this step (back.pro held open)
// has kept the backup already; its retries find it kept and move nothing, so failed saves give up
// no more than the one that succeeds.
bool KeepGenerations(const std::wstring& backup) {
    if (::GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    if (SameBytes(backup, backup + kGenerations[0]))
        return true;
    const size_t oldest = std::size(kGenerations) - 1;
    size_t free = 0;
    while (free < oldest && IsFile(backup + kGenerations[free]))
        ++free;
    for (size_t older = free; older > 0; --older) {
        if (!::MoveFileExW((backup + kGenerations[older - 1]).c_str(), (backup + kGenerations[older]).c_str(),
                           older == oldest ? MOVEFILE_REPLACE_EXISTING : 0))
            return false;
    }
    return ::CopyFileW(backup.c_str(), (backup + kGenerations[0]).c_str(), TRUE) != FALSE;
}

// Which earlier backups stand beside it now, for the support log.
std::string KeptGenerations(const std::wstring& backup) {
    std::string kept;
    for (const wchar_t* generation : kGenerations) {
        if (IsFile(backup + generation))
            kept += " back.pro" + Utf8(generation);
    }
    return kept.empty() ? " none" : kept;
}

}  // namespace

bool BackupPath(wchar_t (&path)[kBackupPathChars]) {
    return PathInTemporaryFolder(L"back.pro", path);
}

bool SaveBackup(const wchar_t* path, const std::vector<std::wstring>& commands) {
    if (!IsAbsolute(path) || std::any_of(commands.begin(), commands.end(), HoldsNul)) {
        LogLine("backup not written: %s", IsAbsolute(path) ? "a setting holds a NUL" : "no absolute path");
        return false;
    }
    const std::wstring backup = path;
    RemoveLeftovers(backup);
    const std::wstring temporary = TemporaryPath(backup);
    // A save of what back.pro already holds (the same factory settings again) moves no generation.
    const bool written = WriteCommands(temporary, commands);
    const bool unchanged = written && SameBytes(temporary, backup);
    const bool saved = unchanged || (written && KeepGenerations(backup) &&
                                     ::MoveFileExW(temporary.c_str(), path,
                                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    const DWORD error = saved ? ERROR_SUCCESS : ::GetLastError();
    ::DeleteFileW(temporary.c_str());  // still there unless it became the backup
    if (saved)
        LogLine("backup %s %s; kept:%s", unchanged ? "unchanged (the same settings), at" : "written to",
                Utf8(path).c_str(), KeptGenerations(backup).c_str());
    else
        LogLine("backup not written to %s; Windows error %lu", Utf8(path).c_str(), error);
    return saved;
}

bool LoadBackup(const wchar_t* path, std::vector<std::wstring>& lines) {
    lines.clear();
    if (!IsAbsolute(path)) {
        LogLine("backup not read: no absolute path");
        return false;
    }
    CStdioFileEx file;
    try {
        CFileException openError;
        if (!file.Open(path, CFile::typeText, &openError)) {  // for reading, the default
            LogLine("backup %s would not open; Windows error %ld", Utf8(path).c_str(), openError.m_lOsError);
            return false;
        }
        std::wstring line;
        for (;;) {
            if (file.ReadString(line))
                lines.push_back(line);
            else if (std::feof(file.m_pStream))
                break;
        }
        file.Close();
    } catch (CException* e) {
        e->Delete();
        lines.clear();
        LogLine("backup %s could not be read", Utf8(path).c_str());
        return false;
    }
    LogLine("backup %s read: %u lines", Utf8(path).c_str(), static_cast<unsigned>(lines.size()));
    return true;
}
