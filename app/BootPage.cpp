#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg4, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg4::CAboutDlg4() : CWizardPage(IDD_BOOT_PAGE) {}

BOOL CAboutDlg4::OnInitDialog() {
    CWizardPage::OnInitDialog();
    // The worker opens the port by the name found now; the page shows it.
    RequestPortScan();
    StartWorker(BootLoaderWaitWorker);
    return TRUE;
}
