// Windows-only: the image is opened with the C runtime's share modes, and its path narrowed to
// the system's code page for the console.
#include "transfer/UploadFirmware.h"

#include <share.h>
#include <windows.h>

#include <cstdio>

#include "transfer/InFile.h"
#include "transfer/YModemTx.h"

namespace {

// The longest path the open-file dialog hands over, two bytes a character in a double-byte
// code page.
constexpr int kMaxAnsiPathBytes = 1024;

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

    InFile source(file, static_cast<uint32_t>(size));
    char path[kMaxAnsiPathBytes] = {};
    ::WideCharToMultiByte(CP_ACP, 0, g_sendPath, -1, path, sizeof path, nullptr, nullptr);
    std::printf("Sending %s...\n", path);

    YModemTx sender(&port, &clock, progress);
    const int32_t result = sender.SendFile(static_cast<uint32_t>(size), &source);
    (void)std::fclose(file);
    if (result != 0)
        return 1;
    std::printf("\nSent OK\n");
    (void)std::fflush(stdout);
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
