#include "app/UploadWorker.h"

#include "app/PageReport.h"
#include "app/SharedState.h"
#include "link/TrackerPortState.h"
#include "transfer/UploadFirmware.h"

namespace {

constexpr int kPortNameBytes = 260;

}  // namespace

DWORD WINAPI UploadWorker(LPVOID page) {
    wchar_t portName[PortNameSlot::kMaxChars + 1];
    g_portName.Get(portName);
    char ansiPortName[kPortNameBytes] = {};
    ::WideCharToMultiByte(CP_ACP, 0, portName, -1, ansiPortName, kPortNameBytes, nullptr, nullptr);

    const HWND window = PageWindow(page);
    // Every failure, from a port that would not open to the tracker cancelling, gets the same
    // box; the port and the file are closed before it shows.
    PageReport report(window);
    if (UploadFirmware(window, ansiPortName, g_firmwarePath) != 0) {
        report.Failed(L"Невозможно сохранить изменения!", WorkerReport::kErrorOk);
        return 0;
    }
    report.Succeeded();
    return 1;
}
