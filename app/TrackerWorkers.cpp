#include "app/TrackerWorkers.h"

#include "app/PageReport.h"
#include "link/ModeChangeWaits.h"
#include "link/Win32CommandPort.h"
#include "link/WindowsVersion.h"

DWORD WINAPI BootLoaderWaitWorker(LPVOID page) {
    Win32CommandPort port;
    PageReport report(PageWindow(page));
    return RunBootLoaderWait(port, SystemClock(), report);
}

DWORD WINAPI ResetWorker(LPVOID page) {
    Win32CommandPort port;
    PageReport report(PageWindow(page));
    return RunResetWait(port, SystemClock(), QueryWindowsVersion, report);
}
