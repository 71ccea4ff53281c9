#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CAboutDlg3::CAboutDlg3() : CWorkPage(IDD_SAVE_PAGE) {}

CAboutDlg3::~CAboutDlg3() = default;

void CAboutDlg3::DoDataExchange(CDataExchange* dx) {
    CWorkPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CAboutDlg3::OnInitDialog() {
    CWorkPage::OnInitDialog();
    StartWorker(SaveSettingsWorker);
    return TRUE;
}
