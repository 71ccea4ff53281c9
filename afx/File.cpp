#include "afxwin.h"

namespace {

// The library's own text for a handle that is not an open file, as its users have always seen
// it; %1 is the file's full path.
const wchar_t kInvalidFileMessage[] = L"與 %1 關聯的無效檔案控制代碼。";

// Long enough for every path the program builds: the settings backup's path holds 1024.
constexpr DWORD kFullPathChars = 1024;

DWORD AccessFor(UINT flags) {
    return (flags & CFile::modeWrite) != 0 ? GENERIC_WRITE : GENERIC_READ;
}

}  // namespace

CFileException::CFileException(int cause, LONG osError, LPCWSTR fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName != nullptr ? fileName : L"") {}

BOOL CFileException::GetErrorMessage(LPWSTR error, UINT maxError, PUINT helpContext) const {
    if (m_cause != invalidFile)
        return CException::GetErrorMessage(error, maxError, helpContext);
    if (helpContext != nullptr)
        *helpContext = 0;
    std::wstring message = kInvalidFileMessage;
    message.replace(message.find(L"%1"), 2, m_strFileName);
    if (error == nullptr || maxError == 0)
        return FALSE;
    lstrcpynW(error, message.c_str(), static_cast<int>(maxError));
    return TRUE;
}

CFile::~CFile() {
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    Close();
    m_strFileName.clear();
    wchar_t fullPath[kFullPathChars];
    const DWORD length =
        fileName != nullptr ? ::GetFullPathNameW(fileName, kFullPathChars, fullPath, nullptr) : 0;
    if (length == 0 || length >= kFullPathChars) {
        if (error != nullptr)
            *error = CFileException(CFileException::genericException, static_cast<LONG>(::GetLastError()));
        return FALSE;
    }
    m_strFileName = fullPath;

    // Exclusive, as every open without share flags: the program asks for no other kind.
    const HANDLE file = ::CreateFileW(fullPath, AccessFor(openFlags), 0, nullptr,
                                      (openFlags & modeCreate) != 0 ? CREATE_ALWAYS : OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error != nullptr)
            *error = CFileException(CFileException::genericException, static_cast<LONG>(::GetLastError()),
                                    fullPath);
        return FALSE;
    }
    m_hFile = file;
    return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
    if (m_hFile == INVALID_HANDLE_VALUE)
        throw new CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName.c_str());
    DWORD read = 0;
    if (!::ReadFile(m_hFile, buffer, count, &read, nullptr))
        throw new CFileException(CFileException::genericException, static_cast<LONG>(::GetLastError()),
                                 m_strFileName.c_str());
    return read;
}

ULONGLONG CFile::GetLength() const {
    if (m_hFile == INVALID_HANDLE_VALUE)
        throw new CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName.c_str());
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(m_hFile, &size))
        throw new CFileException(CFileException::genericException, static_cast<LONG>(::GetLastError()),
                                 m_strFileName.c_str());
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}
