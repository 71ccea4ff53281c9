#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CSaveSettingsPage::CSaveSettingsPage() : CWorkPage(IDD_SAVE_SETTINGS_PAGE) {}

CSaveSettingsPage::~CSaveSettingsPage() = default;

void CSaveSettingsPage::DoDataExchange(CDataExchange* dx) {
    CWorkPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CSaveSettingsPage::OnInitDialog() {
    CWorkPage::OnInitDialog();
    StartWorker(SaveSettingsWorker);
    return TRUE;
}
