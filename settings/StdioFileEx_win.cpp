#include "settings/StdioFileEx.h"

#include <cwchar>

#include "settings/TrackerText.h"

namespace {

// Lines are read in steps of this many characters until a step ends with LF or comes up short.
constexpr size_t kStepUnits = 128;

bool ReadUnit(FILE* stream, wchar_t& unit) {
    return std::fread(&unit, sizeof unit, 1, stream) == 1;
}

bool ReadUnit(FILE* stream, char& unit) {
    const int byte = std::getc(stream);
    unit = static_cast<char>(byte);
    return byte != EOF;
}

// Appends up to one step of characters, ending after a LF; returns how many it appended.
template <typename Unit>
size_t ReadStep(FILE* stream, std::basic_string<Unit>& line) {
    size_t count = 0;
    Unit unit;
    while (count < kStepUnits && ReadUnit(stream, unit)) {
        line += unit;
        ++count;
        if (unit == Unit('\n'))
            break;
    }
    return count;
}

}  // namespace

BOOL CStdioFileEx::Open(LPCWSTR fileName, UINT openFlags, CFileException* error) {
    // The program writes only the backup, always as Unicode; a file it reads is Unicode when it
    // starts with the mark.
    const bool writing = (openFlags & (typeUnicode | modeCreate | modeWrite)) != 0;
    m_bUnicode = writing || ((openFlags & typeText) != 0 && HasUnicodeMark(fileName));
    if (m_bUnicode)
        openFlags = (openFlags & ~typeText) | typeBinary;
    return CStdioFile::Open(fileName, openFlags & ~typeUnicode, error);
}

template <typename Unit>
void CStdioFileEx::ReadLine(std::basic_string<Unit>& line) {
    line.clear();
    for (;;) {
        const size_t count = ReadStep(m_pStream, line);
        if (count == 0) {
            if (std::feof(m_pStream))
                return;
            std::clearerr(m_pStream);
            ThrowFileException(CFileException::genericException);
        }
        if (count < kStepUnits || line.back() == Unit('\n'))
            return;
    }
}

BOOL CStdioFileEx::ReadString(std::wstring& line) {
    if (!m_bUnicode) {
        std::string bytes;
        const BOOL read = ReadString(bytes);
        line = WidenTrackerText(bytes);
        return read;
    }
    if (std::ftell(m_pStream) == 0) {
        // A file too short for its mark holds no line.
        unsigned char mark[2];
        if (std::fread(mark, 1, sizeof mark, m_pStream) != sizeof mark) {
            line.clear();
            return FALSE;
        }
    }
    ReadLine(line);
    return !line.empty();
}

BOOL CStdioFileEx::ReadString(std::string& line) {
    ReadLine(line);
    // The runtime turns CR CR LF into CR LF; such a line end is dropped whole.
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        line.resize(line.size() - 2);
    return !line.empty();
}

void CStdioFileEx::WriteString(LPCWSTR text) {
    if (text == nullptr)
        throw new CInvalidArgException();
    static const unsigned char kMark[] = {0xFF, 0xFE};
    const bool atStart = std::ftell(m_pStream) == 0;
    const size_t units = std::wcslen(text);
    if ((atStart && std::fwrite(kMark, 1, sizeof kMark, m_pStream) != sizeof kMark) ||
        std::fwrite(text, sizeof(wchar_t), units, m_pStream) != units)
        ThrowFileException(CFileException::diskFull);
}

bool CStdioFileEx::HasUnicodeMark(LPCWSTR path) {
    CFile file;
    CFileException error;
    if (!file.Open(path, modeRead | typeBinary, &error))
        return false;
    unsigned char mark[2];
    return file.Read(mark, sizeof mark) == sizeof mark && mark[0] == 0xFF && mark[1] == 0xFE;
}
