// The tracker's settings records as they come off the line, and the commands that carry them
// back to it. Pure text handling: no port, no clock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Whether one line from the tracker, its bytes before the LF, has the shape of a settings
// record: "GSs" somewhere in it, and it ends with "*", two checksum characters, "!" and one
// more character (the tracker's CR).
bool IsSettingsRecord(const char* bytes, size_t length);

// Where a record falls in the dump, given how many records were accepted so far.
enum class RecordPlace {
    kNext,        // the record expected now
    kLast,        // the dump's closing record, with the number expected now
    kWrongStart,  // nothing accepted yet, and this is not the dump's first record
    kElsewhere,   // out of order: a record was lost, or it belongs to an earlier pass
};
// The kind and the number are read from their own fields, the third and fourth after the record
// word, so that a payload that happens to hold ",0,5," is never taken for record 5.
RecordPlace PlaceOfRecord(const std::wstring& record, uint8_t accepted);

// The command that writes a record back: its word and identity become the set command's, and
// its checksum the placeholder the tracker takes instead of one. The record ends with the
// checksum, "!", CR and LF; the command ends with "QQ!", CR and LF.
std::wstring RestoreCommandFor(const std::wstring& record);
