#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CRestoreSettingsPage::CRestoreSettingsPage() : CBarPage(IDD_RESTORE_SETTINGS_PAGE) {}

BOOL CRestoreSettingsPage::OnInitDialog() {
    CBarPage::OnInitDialog();
    StartWorker(RestoreSettingsWorker);
    return TRUE;
}
