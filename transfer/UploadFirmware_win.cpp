// Windows-only: the image is opened with the C runtime's share modes, and its path narrowed to
// the system's code page for the console.
#include "transfer/UploadFirmware.h"

#include <io.h>
#include <share.h>
#include <windows.h>

#include <cstdio>

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

// The transfer on a port that is already open: 0 on success, 1 on any failure.
int SendFirmwareFile(SerialPort& port, Clock& clock, WorkerReport* progress) {
    // Others may read the image meanwhile, but nobody may change it under the transfer.
    FILE* file = ::_wfsopen(g_sendPath, L"rb", _SH_DENYWR);
    if (file == nullptr)
        return 1;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    // The image is only read: closing it cannot lose anything, so its result is not looked at.
    // An empty image (a download cut short) is no firmware: nothing goes to the tracker.
    if (size <= 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        (void)std::fclose(file);
        return 1;
    }

    FILE* const console = ProgressConsole();
    InFile source(file, static_cast<uint32_t>(size), console);
    if (console != nullptr) {
        char path[kMaxAnsiPathBytes] = {};
        ::WideCharToMultiByte(CP_ACP, 0, g_sendPath, -1, path, sizeof path, nullptr, nullptr);
        (void)std::fprintf(console, "Sending %s...\n", path);
    }

    YModemTx sender(&port, &clock, progress);
    const int32_t result = sender.SendFile(static_cast<uint32_t>(size), &source);
    (void)std::fclose(file);
    if (result != 0)
        return 1;
    if (console != nullptr) {
        (void)std::fprintf(console, "\nSent OK\n");
        (void)std::fflush(console);
    }
    return 0;
}

}  // namespace

int UploadFirmware(SerialPort& port, Clock& clock, WorkerReport* progress, const wchar_t* firmwarePath) {
    if (firmwarePath == nullptr || !port.Open())
        return 1;
    g_sendPath = firmwarePath;
    const int failed = SendFirmwareFile(port, clock, progress);
    port.Close();
    // The path is the caller's and may go once this returns.
    g_sendPath = nullptr;
    return failed;
}
