#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CSaveSettingsPage::CSaveSettingsPage() : CBarPage(IDD_SAVE_SETTINGS_PAGE) {}

BOOL CSaveSettingsPage::OnInitDialog() {
    CBarPage::OnInitDialog();
    StartWorker(SaveSettingsWorker);
    return TRUE;
}
