// Any line from the tracker through the record test, the sequence test and the rewrite into a
// restore command. The first byte is the count of records accepted before the line.
#include <cstdint>
#include <string>

#include "settings/SettingsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t accepted = data[0];
    // Exactly the line's bytes, so that a read past its end is caught.
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    IsSettingsRecord(bytes.data(), bytes.size());
    // The dump widens each byte to one character of the code page; Latin-1 stands in for it.
    const std::wstring line(bytes.begin(), bytes.end());
    PlaceOfRecord(line, accepted);
    // Whatever the line held, the tracker is sent nothing but a whole restore command.
    const std::wstring command = RestoreCommandFor(line);
    const std::wstring head = L"GSS,KestrelonKV-718,", tail = L"QQ!\r\n";
    if (command.size() < head.size() + tail.size() || command.compare(0, head.size(), head) != 0 ||
        command.compare(command.size() - tail.size(), tail.size(), tail) != 0)
        __builtin_trap();
    return 0;
}
