#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CAboutDlg4::CAboutDlg4() : CWorkPage(IDD_BOOT_PAGE) {}

BOOL CAboutDlg4::OnInitDialog() {
    CWorkPage::OnInitDialog();
    // The worker opens the port by the name found now; the page shows it.
    RequestPortScan();
    StartWorker(BootLoaderWaitWorker);
    return TRUE;
}
