#include "app/TrackerWorkers.h"

#include "afxwin.h"
#include "app/PageReport.h"
#include "link/ModeChangeWaits.h"
#include "link/Win32CommandPort.h"
#include "link/WindowsVersion.h"

namespace {

const wchar_t kTimeoutText[] = L"Превышено время ожидания!";

HWND PageWindow(LPVOID page) {
    return static_cast<CWnd*>(page)->m_hWnd;
}

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
