// The tracker's settings records as they come off the line, and the commands that carry them
// back to it. Pure text handling on the tracker's own bytes: no port, no clock, no code page.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Whether one line from the tracker, its bytes before the LF, has the shape of a settings
// record: "GSs" somewhere in it, and it ends with "*", two checksum characters, "!" and one
// more character (the tracker's CR). A line that holds a control byte other than a TAB and that
// final CR (a NUL from a glitch on the line, or a padded field) is not one.
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
RecordPlace PlaceOfRecord(const std::string& record, uint8_t accepted);

// The command that writes a placed record (its bytes before the LF) back: the set command's word
// and identity, then the record's own fields from its kind on, so that the tracker's other output
// before the record word stays out; its checksum becomes the placeholder the tracker takes
// instead of one. The command ends with "QQ!", CR and LF.
std::string RestoreCommandFor(const std::string& record);
