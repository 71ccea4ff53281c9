#include "settings/SettingsRecord.h"

#include <string_view>

namespace {

// "*", two checksum characters, "!" and the CR stand between the payload and the LF.
constexpr size_t kRecordTailChars = 5;
constexpr size_t kEndMarkFromEnd = 2;

// Keeps the text after the first comma; text without one stays whole.
std::wstring AfterFirstComma(const std::wstring& text) {
    const size_t comma = text.find(L',');
    return comma == std::wstring::npos ? text : text.substr(comma + 1);
}

// The kind and number fields of a record: "GSs", identity, kind, number, then the payload. False
// when the line has no such fields.
bool KindAndNumber(const std::wstring& record, std::wstring& kind, std::wstring& number) {
    const size_t word = record.find(L"GSs");
    if (word == std::wstring::npos)
        return false;
    size_t fieldStart[4];
    size_t at = word;
    for (size_t& start : fieldStart) {
        at = record.find(L',', at);
        if (at == std::wstring::npos)
            return false;
        start = ++at;
    }
    // Where the identity, the kind, the number and the payload begin.
    kind = record.substr(fieldStart[1], fieldStart[2] - 1 - fieldStart[1]);
    number = record.substr(fieldStart[2], fieldStart[3] - 1 - fieldStart[2]);
    return true;
}

}  // namespace

bool IsSettingsRecord(const char* bytes, size_t length) {
    const std::string_view line(bytes, length);
    return line.find("GSs") != std::string_view::npos && length >= kRecordTailChars &&
           line[length - kEndMarkFromEnd] == '!' && line[length - kRecordTailChars] == '*';
}

RecordPlace PlaceOfRecord(const std::wstring& record, uint8_t accepted) {
    std::wstring kind;
    std::wstring number;
    const bool hasFields = KindAndNumber(record, kind, number);
    if (accepted == 0)
        return hasFields && kind == L"1" && number == L"0" ? RecordPlace::kNext : RecordPlace::kWrongStart;
    if (!hasFields || number != std::to_wstring(accepted))
        return RecordPlace::kElsewhere;
    if (kind == L"0")
        return RecordPlace::kNext;
    return kind == L"2" ? RecordPlace::kLast : RecordPlace::kElsewhere;
}

std::wstring RestoreCommandFor(const std::wstring& record) {
    std::wstring fields = AfterFirstComma(AfterFirstComma(record));
    // A record's tail is its checksum, end mark and line end; the "*" before them stays.
    fields.resize(fields.size() > kRecordTailChars ? fields.size() - kRecordTailChars : 0);
    return L"GSS,KestrelonKV-718," + fields + L"QQ!\r\n";
}
