// A folder of the test's own under the temporary folder, removed with whatever is left in it.
#pragma once
#include <windows.h>

#include <fstream>
#include <string>

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
    ~TempFolder() { Remove(path_); }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
    // A file of these bytes; its path.
    std::wstring Put(const std::wstring& name, const std::string& bytes) const {
        std::ofstream((*this / name).c_str(), std::ios::binary) << bytes;
        return *this / name;
    }

private:
    // A file, or a folder with everything in it.
    static void Remove(const std::wstring& path) {
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &found)) {
            if (std::wstring(found.cFileName).find_first_not_of(L'.') != std::wstring::npos)
                Remove(path + L"\\" + found.cFileName);
        }
        ::FindClose(search);
        ::DeleteFileW(path.c_str());
        ::RemoveDirectoryW(path.c_str());
    }

    std::wstring path_;
};
