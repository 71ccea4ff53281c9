// Windows-only: the image is read through the Win32 handle that the upload page holds open.
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

    DWORD count = 0;
    if (!::ReadFile(file, buffer, static_cast<DWORD>(maxBytes), &count, nullptr))
        return kSourceFailed;
    if (count > 0) {
        position += count;
        return static_cast<int32_t>(count);
    }
    return position == size ? 0 : kSourceFailed;
}
