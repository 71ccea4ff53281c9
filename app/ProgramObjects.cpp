// The program's static objects, in the order they are built: the application, then the pages.
#include "app/App.h"
#include "app/Pages.h"
#include "app/WizardFlow.h"

CKV718_Firmware_ToolApp theApp;

CAboutDlg0 g_jobPage;
CAboutDlg1 g_connectPage;
CAboutDlg2 g_filePage;
CAboutDlg3 g_savePage;
CAboutDlg4 g_bootPage;
CAboutDlg5 g_uploadPage;
CAboutDlg6 g_powerOnPage;
CAboutDlg7 g_restorePage;
CAboutDlg8 g_finishPage;

CDialog& PageObject(WizardPage page) {
    switch (page) {
        case WizardPage::Job:
            return g_jobPage;
        case WizardPage::Connect:
            return g_connectPage;
        case WizardPage::FirmwareFile:
            return g_filePage;
        case WizardPage::SaveSettings:
            return g_savePage;
        case WizardPage::BootLoader:
            return g_bootPage;
        case WizardPage::Upload:
            return g_uploadPage;
        case WizardPage::PowerOn:
            return g_powerOnPage;
        case WizardPage::RestoreSettings:
            return g_restorePage;
        case WizardPage::Finish:
            break;
    }
    return g_finishPage;
}
