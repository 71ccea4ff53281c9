#include "app/SettingsWorkers.h"

#include "app/PageReport.h"
#include "app/Pages.h"
#include "link/Win32CommandPort.h"
#include "settings/BackupFile.h"
#include "settings/SettingsWorkers.h"

DWORD WINAPI SaveSettingsWorker(LPVOID page) {
    Win32CommandPort port;
    PageReport report(PageWindow(page), static_cast<CAboutDlg3*>(page)->m_progress.m_hWnd);
    // Without a temporary folder the path stays empty and the save reports that it cannot
    // write the backup.
    wchar_t backupPath[kBackupPathChars] = {};
    BackupPath(backupPath);
    return RunSaveSettings(port, SystemClock(), report, backupPath);
}

DWORD WINAPI RestoreSettingsWorker(LPVOID page) {
    Win32CommandPort port;
    PageReport report(PageWindow(page), static_cast<CAboutDlg7*>(page)->m_progress.m_hWnd);
    wchar_t backupPath[kBackupPathChars] = {};
    BackupPath(backupPath);
    return RunRestoreSettings(port, SystemClock(), report, backupPath);
}
