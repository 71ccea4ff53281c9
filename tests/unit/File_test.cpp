#include <gtest/gtest.h>

#include <string>

#include "afxwin.h"

namespace {

// A file in a folder of its own under the temporary folder, removed with the folder.
class TemporaryFolder {
public:
    TemporaryFolder() {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"kv-file-test-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TemporaryFolder() {
        for (const std::wstring& file : files_)
            ::DeleteFileW(file.c_str());
        ::RemoveDirectoryW(path_.c_str());
    }
    std::wstring File(const wchar_t* name, const std::string& content) {
        const std::wstring path = Path(name);
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        ::CloseHandle(file);
        return path;
    }
    std::wstring Path(const wchar_t* name) {
        files_.push_back(path_ + L"\\" + name);
        return files_.back();
    }

private:
    std::wstring path_;
    std::vector<std::wstring> files_;
};

bool CanOpen(const std::wstring& path, DWORD access) {
    HANDLE file = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::wstring MessageOf(const CFile& file) {
    try {
        file.GetLength();
    } catch (CFileException* e) {
        wchar_t message[512];
        const BOOL hasMessage = e->GetErrorMessage(message, 512);
        const int cause = e->m_cause;
        e->Delete();
        if (!hasMessage || cause != CFileException::invalidFile)
            return L"(another error)";
        return message;
    }
    return L"(no exception)";
}

TEST(CFile, MeasuresAFileOpenedForReadingAndKeepsOthersOut) {
    TemporaryFolder folder;
    const std::wstring path = folder.File(L"image.dfu", std::string(5000, 'x'));
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), 0));
    EXPECT_EQ(5000u, file.GetLength());
    EXPECT_EQ(path, file.m_strFileName);
    // Opened without sharing: nobody else may read or write it meanwhile.
    EXPECT_FALSE(CanOpen(path, GENERIC_READ));
    file.Close();
    EXPECT_TRUE(CanOpen(path, GENERIC_READ));
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.m_hFile);
}

TEST(CFile, ShareFlagsLetOthersInAsTheySay) {
    TemporaryFolder folder;
    const std::wstring path = folder.File(L"image.dfu", "abc");
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_TRUE(CanOpen(path, GENERIC_READ));
    EXPECT_FALSE(CanOpen(path, GENERIC_WRITE));
}

TEST(CFile, CreateReplacesWhatWasThere) {
    TemporaryFolder folder;
    const std::wstring path = folder.File(L"backup.txt", "old content");
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(0u, file.GetLength());
}

TEST(CFile, LengthOfAFileThatDidNotOpenThrowsTheInvalidHandleError) {
    TemporaryFolder folder;
    const std::wstring missing = folder.Path(L"gone.dfu");
    CFile file;
    EXPECT_FALSE(file.Open(missing.c_str(), 0));
    EXPECT_EQ(L"與 " + missing + L" 關聯的無效檔案控制代碼。", MessageOf(file));

    // A relative name is shown as the full path it stands for.
    wchar_t current[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, current);
    CFile relative;
    EXPECT_FALSE(relative.Open(L"no-such-image.dfu", 0));
    std::wstring expected = current;
    if (expected.back() != L'\\')
        expected += L'\\';
    EXPECT_EQ(L"與 " + expected + L"no-such-image.dfu 關聯的無效檔案控制代碼。", MessageOf(relative));
}

TEST(CFile, EmptyPathOpensNothingAndNamesNothing) {
    CFile file;
    EXPECT_FALSE(file.Open(L"", 0));
    EXPECT_EQ(L"", file.m_strFileName);
    EXPECT_EQ(L"與  關聯的無效檔案控制代碼。", MessageOf(file));
}

TEST(CFile, FailedOpenSaysWhy) {
    TemporaryFolder folder;
    const std::wstring missing = folder.Path(L"gone.dfu");
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(missing.c_str(), 0, &error));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, error.m_lOsError);
    EXPECT_EQ(missing, error.m_strFileName);
}

}  // namespace
