#include "settings/SettingsRecord.h"

#include <string_view>

namespace {

// "*", two checksum characters, "!" and the CR stand between the payload and the LF.
constexpr size_t kRecordTailChars = 5;
constexpr size_t kEndMarkFromEnd = 2;
// Of the tail, the "*" stays in the restore command.
constexpr size_t kReplacedTailChars = kRecordTailChars - 1;

struct RecordFields {
    size_t kindAt = 0;
    std::string kind;
    std::string number;
};

// The fields of a record: "GSs", identity, kind, number, then the payload. False when the line
// has no such fields.
bool FindFields(const std::string& record, RecordFields& fields) {
    const size_t word = record.find("GSs");
    if (word == std::string::npos)
        return false;
    size_t fieldStart[4];
    size_t at = word;
    for (size_t& start : fieldStart) {
        at = record.find(',', at);
        if (at == std::string::npos)
            return false;
        start = ++at;
    }
    // Where the identity, the kind, the number and the payload begin.
    fields.kindAt = fieldStart[1];
    fields.kind = record.substr(fieldStart[1], fieldStart[2] - 1 - fieldStart[1]);
    fields.number = record.substr(fieldStart[2], fieldStart[3] - 1 - fieldStart[2]);
    return true;
}

// A byte that is neither text nor the TAB of a field: bytes 0x80 and up are letters of the code
// page.
bool IsControlByte(char byte) {
    return static_cast<unsigned char>(byte) < 0x20 && byte != '\t';
}

}  // namespace

bool IsSettingsRecord(const char* bytes, size_t length) {
    const std::string_view line(bytes, length);
    if (length < kRecordTailChars || line.find("GSs") == std::string_view::npos ||
        line[length - kEndMarkFromEnd] != '!' || line[length - kRecordTailChars] != '*')
        return false;
    for (size_t at = 0; at + 1 < length; ++at) {
        if (IsControlByte(line[at]))
            return false;
    }
    return line.back() == '\r' || !IsControlByte(line.back());
}

RecordPlace PlaceOfRecord(const std::string& record, uint8_t accepted) {
    RecordFields fields;
    const bool hasFields = FindFields(record, fields);
    if (accepted == 0) {
        return hasFields && fields.kind == "1" && fields.number == "0" ? RecordPlace::kNext
                                                                       : RecordPlace::kWrongStart;
    }
    if (!hasFields || fields.number != std::to_string(accepted))
        return RecordPlace::kElsewhere;
    if (fields.kind == "0")
        return RecordPlace::kNext;
    return fields.kind == "2" ? RecordPlace::kLast : RecordPlace::kElsewhere;
}

std::string RestoreCommandFor(const std::string& record) {
    RecordFields fields;
    FindFields(record, fields);
    // A placed record's kind and number stand before its tail, so the "*" is always kept.
    const size_t end = record.size() - kReplacedTailChars;
    return "GSS,KestrelonKV-718," + record.substr(fields.kindAt, end - fields.kindAt) + "QQ!\r\n";
}
