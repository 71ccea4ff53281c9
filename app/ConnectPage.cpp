#include "app/Pages.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg1, CWizardPage)
ON_BN_CLICKED(IDOK, OnOK)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg1::CAboutDlg1() : CWizardPage(IDD_CONNECT_PAGE) {}

BOOL CAboutDlg1::OnInitDialog() {
    CWizardPage::OnInitDialog();
    // The scan fills the port box and wakes the Next button before the page goes on.
    RequestPortScan();
    return TRUE;
}
