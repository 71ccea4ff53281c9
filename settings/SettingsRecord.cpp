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

}  // namespace

bool IsSettingsRecord(const char* bytes, size_t length) {
    const std::string_view line(bytes, length);
    return line.find("GSs") != std::string_view::npos && length >= kRecordTailChars &&
           line[length - kEndMarkFromEnd] == '!' && line[length - kRecordTailChars] == '*';
}

RecordPlace PlaceOfRecord(const std::wstring& record, uint8_t accepted) {
    if (accepted == 0)
        return record.find(L",1,0,") != std::wstring::npos ? RecordPlace::kNext : RecordPlace::kWrongStart;
    const std::wstring number = L"," + std::to_wstring(accepted) + L",";
    if (record.find(L",0" + number) != std::wstring::npos)
        return RecordPlace::kNext;
    if (record.find(L",2" + number) != std::wstring::npos)
        return RecordPlace::kLast;
    return RecordPlace::kElsewhere;
}

std::wstring RestoreCommandFor(const std::wstring& record) {
    std::wstring fields = AfterFirstComma(AfterFirstComma(record));
    // A record's tail is its checksum, end mark and line end; the "*" before them stays.
    fields.resize(fields.size() > kRecordTailChars ? fields.size() - kRecordTailChars : 0);
    return L"GSS,KestrelonKV-718," + fields + L"QQ!\r\n";
}
