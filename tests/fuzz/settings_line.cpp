// Any line from the tracker through the record test, the sequence test and the rewrite into a
// restore command, each held against the record's form as read here on its own. The first byte
// is the count of records accepted before the line.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "settings/SettingsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t accepted = data[0];
    // Exactly the line's bytes before its LF, so that a read past their end is caught.
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t length = line.size(), word = line.find("GSs");
    bool controlByte = false;  // neither text, nor a TAB, nor the final CR
    for (size_t at = 0; at < length; ++at) {
        const bool finalCr = line[at] == '\r' && at + 1 == length;
        controlByte =
            controlByte || (static_cast<unsigned char>(line[at]) < 0x20 && line[at] != '\t' && !finalCr);
    }
    const bool shaped = word != std::string::npos && length >= 5 && line[length - 2] == '!' &&
                        line[length - 5] == '*' && !controlByte;
    if (IsSettingsRecord(line.data(), length) != shaped)
        __builtin_trap();
    // From the record word on, at every comma: the word, the identity, the kind, the number, the
    // payload's pieces.
    std::vector<std::string> fields;
    std::istringstream text(word == std::string::npos ? "" : line.substr(word) + ",");
    for (std::string field; std::getline(text, field, ',');)
        fields.push_back(field);
    const bool numbered = fields.size() >= 5 && fields[3] == std::to_string(accepted);
    RecordPlace place = accepted == 0 ? RecordPlace::kWrongStart : RecordPlace::kElsewhere;
    if (numbered && fields[2] == (accepted == 0 ? "1" : "0"))
        place = RecordPlace::kNext;
    else if (numbered && accepted != 0 && fields[2] == "2")
        place = RecordPlace::kLast;
    if (PlaceOfRecord(line, accepted) != place)
        __builtin_trap();
    if (!shaped || place == RecordPlace::kWrongStart || place == RecordPlace::kElsewhere)
        return 0;
    // The record from its kind on, which must reach past the "*", with the checksum, the end mark
    // and the CR replaced.
    std::string fromKind = fields[2];
    for (size_t at = 3; at < fields.size(); ++at)
        fromKind += "," + fields[at];
    if (fromKind.size() < 5)
        __builtin_trap();
    fromKind.resize(fromKind.size() - 4);
    if (RestoreCommandFor(line) != "GSS,KestrelonKV-718," + fromKind + "QQ!\r\n")
        __builtin_trap();
    return 0;
}
