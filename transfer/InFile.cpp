#include "transfer/InFile.h"

int32_t InFile::Read(uint8_t* buffer, int32_t maxBytes) {
    if (console != nullptr) {
        uint32_t percent = 0;
        if (size != 0)
            percent = static_cast<uint32_t>(uint64_t{position} * 100 / size);
        // A console that is gone changes nothing.
        (void)std::fprintf(console, "%8d bytes of %d - %3d%%\r", static_cast<int>(position),
                           static_cast<int>(size), static_cast<int>(percent));
        (void)std::fflush(console);
    }

    const size_t count = std::fread(buffer, 1, static_cast<size_t>(maxBytes), file);
    if (count > 0) {
        position += static_cast<uint32_t>(count);
        return static_cast<int32_t>(count);
    }
    return position == size ? 0 : kSourceFailed;
}
