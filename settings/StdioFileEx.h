// Text files that are either UTF-16LE with the mark FF FE (the settings backup) or 8-bit text
// of the thread's code page (a file a user wrote by hand).
#pragma once
#include <string>

#include "afxwin.h"

class CStdioFileEx : public CStdioFile {
public:
    // Open flag of this class: write the file as UTF-16LE with its mark.
    enum : UINT { typeUnicode = 0x100000 };

    // A text file opened for reading is Unicode when it starts with the mark; a file opened for
    // writing (typeUnicode, modeCreate or modeWrite) is written as Unicode. Either way the stream
    // is then untranslated.
    BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
    // The next line with its line end as stored (an 8-bit file's CR LF arrives as LF). False
    // when the line is empty: at the end of the file, or an 8-bit line of CR CR LF. A read error
    // throws CFileException*.
    BOOL ReadString(std::wstring& line);
    BOOL ReadString(std::string& line);
    // The mark first when at the file's start, then the text's code units as they are. A null text throws
    // CInvalidArgException*, a failed write CFileException* (diskFull).
    void WriteString(LPCWSTR text) override;

    // True when the file can be opened and its first two bytes are FF FE.
    static bool HasUnicodeMark(LPCWSTR path);

    bool m_bUnicode = false;

private:
    template <typename Unit>
    void ReadLine(std::basic_string<Unit>& line);
};
