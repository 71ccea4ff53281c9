#include <fcntl.h>
#include <io.h>
#include <stdlib.h>

#include "afxwin.h"

namespace {

// The runtime's own open mode for the file's flags; the handle is already open with the right
// access, so "w" here never truncates.
int DescriptorFlags(UINT flags) {
    const int translation = (flags & CFile::typeBinary) != 0 ? _O_BINARY : _O_TEXT;
    return (flags & CFile::modeWrite) != 0 ? translation : translation | _O_RDONLY;
}

const wchar_t* StreamMode(UINT flags) {
    const bool binary = (flags & CFile::typeBinary) != 0;
    if ((flags & CFile::modeWrite) != 0)
        return binary ? L"wb" : L"wt";
    return binary ? L"rb" : L"rt";
}

}  // namespace

CStdioFile::~CStdioFile() {
    if (m_pStream != nullptr)
        (void)std::fclose(m_pStream);  // the handle goes with the stream; nothing to report to
    m_pStream = nullptr;
    m_hFile = INVALID_HANDLE_VALUE;
}

BOOL CStdioFile::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    Close();
    if (!CFile::Open(fileName, openFlags & ~(typeText | typeBinary), error))
        return FALSE;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(m_hFile), DescriptorFlags(openFlags));
    FILE* stream = descriptor != -1 ? _wfdopen(descriptor, StreamMode(openFlags)) : nullptr;
    if (stream == nullptr) {
        if (error != nullptr)
            *error = CFileException(CFileException::genericException, static_cast<LONG>(_doserrno),
                                    m_strFileName.c_str());
        if (descriptor != -1)
            _close(descriptor);
        else
            ::CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
        return FALSE;
    }
    m_pStream = stream;
    return TRUE;
}

void CStdioFile::WriteString(LPCWSTR text) {
    if (text == nullptr)
        throw new CInvalidArgException();
    if (std::fputws(text, m_pStream) < 0)
        ThrowFileException(CFileException::diskFull);
}

void CStdioFile::Close() {
    if (m_pStream == nullptr)
        return;
    const int result = std::fclose(m_pStream);
    m_pStream = nullptr;
    m_hFile = INVALID_HANDLE_VALUE;
    if (result != 0)
        ThrowFileException(CFileException::diskFull);
}

void CStdioFile::ThrowFileException(int cause) const {
    throw new CFileException(cause, static_cast<LONG>(_doserrno), m_strFileName.c_str());
}
