#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CRestoreSettingsPage::CRestoreSettingsPage() : CWorkPage(IDD_RESTORE_SETTINGS_PAGE) {}

CRestoreSettingsPage::~CRestoreSettingsPage() = default;

void CRestoreSettingsPage::DoDataExchange(CDataExchange* dx) {
    CWorkPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CRestoreSettingsPage::OnInitDialog() {
    CWorkPage::OnInitDialog();
    StartWorker(RestoreSettingsWorker);
    return TRUE;
}
