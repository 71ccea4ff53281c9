// Windows-only: the folder is the system's answer to GetTempPath.
#include "log/TemporaryFolder.h"

#include <windows.h>

#include <string>

bool PathInTemporaryFolder(const wchar_t* name, wchar_t (&path)[kTemporaryPathChars]) {
    wchar_t folder[kTemporaryPathChars];
    const DWORD length = ::GetTempPathW(kTemporaryPathChars, folder);
    if (length == 0 || length >= kTemporaryPathChars)
        return false;
    const std::wstring built = std::wstring(folder) + L"\\" + name;
    if (built.size() >= kTemporaryPathChars)
        return false;
    built.copy(path, built.size());
    path[built.size()] = L'\0';
    return true;
}
