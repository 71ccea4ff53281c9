// A folder of the test's own under the temporary folder, removed with whatever is left in it.
#pragma once
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder() {
        static int made = 0;
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        path_ =
            temp + (L"kv-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++made));
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        for (const std::wstring& name : Names(L"*")) {
            ::DeleteFileW((*this / name).c_str());
            ::RemoveDirectoryW((*this / name).c_str());
        }
        ::RemoveDirectoryW(path_.c_str());
    }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
    // A file of these bytes; its path.
    std::wstring Put(const std::wstring& name, const std::string& bytes) const {
        std::ofstream((*this / name).c_str(), std::ios::binary) << bytes;
        return *this / name;
    }
    // Files, or folders too when asked, whose names match the pattern.
    std::vector<std::wstring> Names(const wchar_t* pattern, bool folders = true) const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((*this / pattern).c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
            const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (found.cFileName[0] != L'.' && (folders || !folder))
                names.push_back(found.cFileName);
        }
        ::FindClose(search);
        return names;
    }

private:
    std::wstring path_;
};
