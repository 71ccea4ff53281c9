// Windows-only: the image is read through the page's Win32 handle, and its path narrowed to the
// system's code page for the console.
#include "transfer/UploadWork.h"

#include <io.h>

#include <cstdint>
#include <cstdio>

#include "log/SupportLog.h"
#include "transfer/ImageCrc.h"
#include "transfer/InFile.h"
#include "transfer/YModemTx.h"

namespace {

// The longest path the open-file dialog hands over, two bytes a character in a double-byte
// code page.
constexpr int kMaxAnsiPathBytes = 1024;

// Standard output, for the transfer's lines, when it is a console or a file; otherwise null. A
// pipe whose reader never empties it (a wrapper that captures the output) would stop the upload
// in a write once it is full.
FILE* ProgressConsole() {
    const DWORD type = ::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stdout))));
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_DISK ? stdout : nullptr;
}

// The support log is told which image goes: its name, its size and its CRC-32, read through the
// page's handle before the transfer reads it again from its first byte.
void LogImage(const FirmwareImage& image) {
    uint32_t crc = 0;
    uint8_t bytes[64 * 1024];
    DWORD got = 0;
    bool read = ::SetFilePointer(image.file, 0, nullptr, FILE_BEGIN) == 0;
    while (read && (read = ::ReadFile(image.file, bytes, sizeof bytes, &got, nullptr) != FALSE) && got > 0)
        crc = ContinueCrc32(crc, bytes, got);
    const wchar_t* name = image.path;
    for (const wchar_t* at = image.path; *at != L'\0'; ++at) {
        if (*at == L'\\')
            name = at + 1;
    }
    char crcText[16] = "not readable";
    if (read)
        (void)std::snprintf(crcText, sizeof crcText, "%08X", crc);
    LogLine("upload: image %s, %lu bytes, CRC-32 %s", Utf8(name).c_str(),
            static_cast<unsigned long>(image.size), crcText);
}

// The transfer on a port that is already open: 0, or the sender's negative code.
int32_t SendImage(SerialPort& port, Clock& clock, WorkerReport& report, const FirmwareImage& image) {
    // An empty image (a download cut short) is no firmware, nor is one of 2 GiB or more, far
    // beyond any and past what the console's count shows: nothing goes to the tracker.
    if (image.size == 0 || image.size > INT32_MAX) {
        LogLine("upload: the image is empty or too large: nothing sent");
        return kNoFirmware;
    }
    // Block 1 carries the image's first byte, wherever the page's handle stood.
    if (::SetFilePointer(image.file, 0, nullptr, FILE_BEGIN) != 0)
        return kSourceFailed;

    const auto size = static_cast<uint32_t>(image.size);
    FILE* const console = ProgressConsole();
    InFile source(image.file, size, console);
    if (console != nullptr) {
        char path[kMaxAnsiPathBytes] = {};
        ::WideCharToMultiByte(CP_ACP, 0, image.path, -1, path, sizeof path, nullptr, nullptr);
        (void)std::fprintf(console, "Sending %s...\n", path);
    }

    const auto imageKiB = static_cast<uint32_t>(image.size >> 10);
    YModemTx sender(&port, &clock, [&report, imageKiB](uint32_t chunks) {
        // The bar runs in whole KiB from 1; the report after the last chunk, the end of file,
        // fills it.
        if (chunks == 1)
            report.ProgressRange(1, imageKiB);
        report.ProgressPosition(chunks - 1);
    });
    const int32_t result = sender.SendFile(image.path, size, &source);
    if (result == 0 && console != nullptr) {
        (void)std::fprintf(console, "\nSent OK\n");
        (void)std::fflush(console);
    }
    return result;
}

}  // namespace

int RunUploadWork(SerialPort& port, Clock& clock, WorkerReport& report, const FirmwareImage& image) {
    LogImage(image);
    int32_t result = kPortNotOpened;
    if (port.Open()) {
        result = SendImage(port, clock, report, image);
        port.Close();
    }
    // Every failure, from a port that would not open to the tracker cancelling, gets the same
    // box; the port is closed before it shows.
    if (result != 0)
        return report.Fail(Failure::kUploadFailed);
    return report.Done();
}
