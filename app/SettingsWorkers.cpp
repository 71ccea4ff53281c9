#include "app/SettingsWorkers.h"

#include "app/PageReport.h"
#include "app/Pages.h"
#include "link/Win32CommandPort.h"
#include "settings/BackupFile.h"
#include "settings/SettingsWorkers.h"

namespace {

using SettingsWork = int (*)(CommandPort&, Clock&, WorkerReport&, const wchar_t*);

// Both pages hand their worker the tracker's port, a report to the page and its bar, and the
// backup's path. Without a temporary folder the path stays empty: a save then reports that it
// cannot write the backup, a restore that it cannot open it.
template <typename Page>
DWORD RunSettingsWork(LPVOID page, SettingsWork work) {
    Win32CommandPort port;
    PageReport report(PageWindow(page), static_cast<Page*>(page)->m_progress.m_hWnd);
    wchar_t backupPath[kBackupPathChars] = {};
    BackupPath(backupPath);
    return work(port, SystemClock(), report, backupPath);
}

}  // namespace

DWORD WINAPI SaveSettingsWorker(LPVOID page) {
    return RunSettingsWork<CAboutDlg3>(page, RunSaveSettings);
}

DWORD WINAPI RestoreSettingsWorker(LPVOID page) {
    return RunSettingsWork<CAboutDlg7>(page, RunRestoreSettings);
}
