#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CBootLoaderPage::CBootLoaderPage() : CWorkPage(IDD_BOOT_LOADER_PAGE) {}

BOOL CBootLoaderPage::OnInitDialog() {
    CWorkPage::OnInitDialog();
    // The worker opens the port by the name found now; the page shows it.
    RequestPortScan();
    StartWorker(BootLoaderWorker);
    return TRUE;
}
