#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CRestartPage::CRestartPage() : CWorkPage(IDD_RESTART_PAGE) {}

BOOL CRestartPage::OnInitDialog() {
    CWorkPage::OnInitDialog();
    // The tracker comes back after its reset, possibly on another port: look again.
    RequestPortScan();
    StartWorker(RestartWorker);
    return TRUE;
}
