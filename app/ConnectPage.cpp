#include "app/Pages.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CConnectPage, CWizardPage)
ON_BN_CLICKED(IDOK, OnOK)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CConnectPage::CConnectPage() : CWizardPage(IDD_CONNECT_PAGE) {}

BOOL CConnectPage::OnInitDialog() {
    CWizardPage::OnInitDialog();
    // The scan fills the port box and wakes the Next button before the page goes on.
    RequestPortScan();
    return TRUE;
}
