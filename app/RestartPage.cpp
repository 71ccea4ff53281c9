#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CAboutDlg6::CAboutDlg6() : CWorkPage(IDD_POWER_ON_PAGE) {}

BOOL CAboutDlg6::OnInitDialog() {
    CWorkPage::OnInitDialog();
    // The tracker comes back after its reset, possibly on another port: look again.
    RequestPortScan();
    StartWorker(ResetWorker);
    return TRUE;
}
