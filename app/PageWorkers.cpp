#include "app/PageWorkers.h"

#include "app/PageReport.h"
#include "app/Pages.h"
#include "app/SharedState.h"
#include "link/BootLoaderWork.h"
#include "link/ComPort.h"
#include "link/RestartWork.h"
#include "link/TrackerPortState.h"
#include "settings/BackupFile.h"
#include "settings/RestoreSettingsWork.h"
#include "settings/SaveSettingsWork.h"
#include "transfer/UploadWork.h"

namespace {

// Whether the system tells its version (the extended record first, then the plain one); the
// reset is not tried on a system that will not.
bool QueryWindowsVersion() {
    OSVERSIONINFOEXW extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended)))
        return true;
    OSVERSIONINFOW plain = {};
    plain.dwOSVersionInfoSize = sizeof plain;
    return ::GetVersionExW(&plain) != FALSE;
}

// The tracker's port under the name discovery publishes, on the system's serial driver.
ComPort TrackerPort(LineProfile profile) {
    return ComPort(SystemCommApi(), SystemClock(), g_portName, profile);
}

using SettingsWork = int (*)(CommandPort&, Clock&, WorkerReport&, const wchar_t*);

// Both settings pages hand their work the tracker's port, a report to the page and its bar,
// and the backup's path. Without a temporary folder the path stays empty: a save then reports
// that it cannot write the backup, a restore that it cannot open it.
DWORD RunSettingsWork(LPVOID page, SettingsWork work) {
    ComPort port = TrackerPort(LineProfile::kCommands);
    PageReport report(PageWindow(page), static_cast<CBarPage*>(page)->m_progress.m_hWnd);
    wchar_t backupPath[kBackupPathChars] = {};
    BackupPath(backupPath);
    return work(port, SystemClock(), report, backupPath);
}

}  // namespace

DWORD WINAPI SaveSettingsWorker(LPVOID page) {
    return RunSettingsWork(page, RunSaveSettingsWork);
}

DWORD WINAPI BootLoaderWorker(LPVOID page) {
    ComPort port = TrackerPort(LineProfile::kCommands);
    PageReport report(PageWindow(page));
    return RunBootLoaderWork(port, SystemClock(), report);
}

DWORD WINAPI UploadWorker(LPVOID page) {
    ComPort port = TrackerPort(LineProfile::kUpload);
    const auto* uploadPage = static_cast<CUploadPage*>(page);
    PageReport report(PageWindow(page), uploadPage->m_progress.m_hWnd);
    return RunUploadWork(port, SystemClock(), report, uploadPage->m_image);
}

DWORD WINAPI RestartWorker(LPVOID page) {
    ComPort port = TrackerPort(LineProfile::kCommands);
    PageReport report(PageWindow(page));
    return RunRestartWork(port, SystemClock(), QueryWindowsVersion, report);
}

DWORD WINAPI RestoreSettingsWorker(LPVOID page) {
    return RunSettingsWork(page, RunRestoreSettingsWork);
}
