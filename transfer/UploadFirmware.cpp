#include "transfer/UploadFirmware.h"

#include <share.h>

#include <cstdio>

#include "transfer/InFile.h"
#include "transfer/WindowsSerialPort.h"
#include "transfer/YModemTx.h"

HWND g_progressWindow = nullptr;

namespace {

constexpr uint32_t kBootLoaderBaudRate = 115200;
// The longest path the open-file dialog hands over, two bytes a character in a double-byte
// code page.
constexpr int kMaxAnsiPathBytes = 1024;

// Each report waits until the page has moved its bar.
class WindowProgress : public UploadProgress {
public:
    explicit WindowProgress(HWND window) : window_(window) {}
    void ChunkSent(uint32_t chunks, uint32_t sizeKiB) override {
        ::SendMessageW(window_, WM_UPLOAD_PROGRESS, chunks, static_cast<LPARAM>(sizeKiB));
    }

private:
    HWND window_;
};

}  // namespace

int UploadFirmware(HWND page, const char* portName, const wchar_t* firmwarePath) {
    g_progressWindow = page;
    g_sendPath = firmwarePath;

    WindowsSerialPort port;
    if (port.Open(portName) != kPortOk)
        return 1;
    // A driver that refuses the settings leaves the line as it was; the boot loader's silence
    // then ends the transfer.
    port.Configure(kBootLoaderBaudRate);
    const int failed = SendFirmwareFile(&port);
    port.Close();
    return failed != 0 ? 1 : 0;
}

int SendFirmwareFile(SerialPort* port) {
    if (g_sendPath == nullptr)
        return 1;
    // Others may read the image meanwhile, but nobody may change it under the transfer.
    FILE* file = ::_wfsopen(g_sendPath, L"rb", _SH_DENYWR);
    if (file == nullptr)
        return 1;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return 1;
    }

    InFile source(file, static_cast<uint32_t>(size));
    char path[kMaxAnsiPathBytes] = {};
    ::WideCharToMultiByte(CP_ACP, 0, g_sendPath, -1, path, sizeof path, nullptr, nullptr);
    std::printf("Sending %s...\n", path);

    WindowProgress window(g_progressWindow);
    YModemTx sender(port, g_progressWindow != nullptr ? &window : nullptr);
    if (sender.SendFile(static_cast<uint32_t>(size), &source) != 0) {
        std::fclose(file);
        return 1;
    }
    std::printf("\nSent OK\n");
    std::fflush(stdout);
    std::fclose(file);
    return 0;
}
