#include "settings/BackupFile.h"

#include <windows.h>

#include "settings/StdioFileEx.h"

namespace {

// A save is written beside the backup as "back.pro.<process id>.tmp" and renamed over it.
const wchar_t kTemporarySuffix[] = L".tmp";
const wchar_t kPreviousSuffix[] = L".bak";

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

// The backup about to be replaced is kept beside it: a user whose restore failed and who runs the
// upgrade again would otherwise lose the only copy of their settings to the factory ones.
bool KeepPrevious(const std::wstring& backup) {
    if (::GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    return ::CopyFileW(backup.c_str(), (backup + kPreviousSuffix).c_str(), FALSE) != FALSE;
}

}  // namespace

bool BackupPath(wchar_t (&path)[kBackupPathChars]) {
    wchar_t folder[kBackupPathChars];
    const DWORD length = ::GetTempPathW(kBackupPathChars, folder);
    if (length == 0 || length >= kBackupPathChars)
        return false;
    const std::wstring built = std::wstring(folder) + L"\\back.pro";
    if (built.size() >= kBackupPathChars)
        return false;
    built.copy(path, built.size());
    path[built.size()] = L'\0';
    return true;
}

bool SaveBackup(const wchar_t* path, const std::vector<std::wstring>& commands) {
    const std::wstring backup = path;
    RemoveLeftovers(backup);
    const std::wstring temporary = TemporaryPath(backup);
    const bool saved =
        WriteCommands(temporary, commands) && KeepPrevious(backup) &&
        ::MoveFileExW(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!saved)
        ::DeleteFileW(temporary.c_str());
    return saved;
}

bool LoadBackup(const wchar_t* path, std::vector<std::wstring>& lines) {
    lines.clear();
    CStdioFileEx file;
    try {
        if (!file.Open(path, CFile::typeText))  // for reading, the default
            return false;
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
        return false;
    }
    return true;
}
