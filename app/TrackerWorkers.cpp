#include "app/TrackerWorkers.h"

#include "app/PageReport.h"
#include "link/ModeChangeWaits.h"
#include "link/Win32CommandPort.h"
#include "link/WindowsVersion.h"

namespace {

const wchar_t kTimeoutText[] = L"Превышено время ожидания!";

}  // namespace

DWORD WINAPI BootLoaderWaitWorker(LPVOID page) {
    Win32CommandPort port;
    PageReport report(PageWindow(page), kTimeoutText);
    return RunBootLoaderWait(port, SystemClock(), report);
}

DWORD WINAPI ResetWorker(LPVOID page) {
    Win32CommandPort port;
    PageReport report(PageWindow(page), kTimeoutText);
    return RunResetWait(port, SystemClock(), QueryWindowsVersion, report);
}
