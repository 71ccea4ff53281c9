#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg6, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg6::CAboutDlg6() : CWizardPage(IDD_POWER_ON_PAGE) {}

BOOL CAboutDlg6::OnInitDialog() {
    CWizardPage::OnInitDialog();
    // The tracker comes back after its reset, possibly on another port: look again.
    RequestPortScan();
    StartWorker(ResetWorker);
    return TRUE;
}
