// The program's static objects, in the order they are built: the application, then the pages.
#include "app/FirmwareToolApp.h"
#include "app/Pages.h"
#include "app/WizardFlow.h"

CFirmwareToolApp theApp;

CJobPage g_jobPage;
CConnectPage g_connectPage;
CFirmwareFilePage g_firmwareFilePage;
CSaveSettingsPage g_saveSettingsPage;
CBootLoaderPage g_bootLoaderPage;
CUploadPage g_uploadPage;
CRestartPage g_restartPage;
CRestoreSettingsPage g_restoreSettingsPage;
CFinishPage g_finishPage;

CDialog& PageObject(WizardPage page) {
    switch (page) {
        case WizardPage::Job:
            return g_jobPage;
        case WizardPage::Connect:
            return g_connectPage;
        case WizardPage::FirmwareFile:
            return g_firmwareFilePage;
        case WizardPage::SaveSettings:
            return g_saveSettingsPage;
        case WizardPage::BootLoader:
            return g_bootLoaderPage;
        case WizardPage::Upload:
            return g_uploadPage;
        case WizardPage::Restart:
            return g_restartPage;
        case WizardPage::RestoreSettings:
            return g_restoreSettingsPage;
        case WizardPage::Finish:
            break;
    }
    return g_finishPage;
}
