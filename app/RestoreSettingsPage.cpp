#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

CAboutDlg7::CAboutDlg7() : CWorkPage(IDD_RESTORE_PAGE) {}

CAboutDlg7::~CAboutDlg7() = default;

void CAboutDlg7::DoDataExchange(CDataExchange* dx) {
    CWorkPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CAboutDlg7::OnInitDialog() {
    CWorkPage::OnInitDialog();
    StartWorker(RestoreSettingsWorker);
    return TRUE;
}
