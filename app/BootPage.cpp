#include "app/Pages.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg4, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg4::CAboutDlg4() : CWizardPage(IDD_BOOT_PAGE) {}

BOOL CAboutDlg4::OnInitDialog() {
    CWizardPage::OnInitDialog();
    // Look for the port again so the page shows where the tracker is now.
    RequestPortScan();
    return TRUE;
}
