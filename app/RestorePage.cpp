#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg7, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg7::CAboutDlg7() : CWizardPage(IDD_RESTORE_PAGE) {}

CAboutDlg7::~CAboutDlg7() = default;

void CAboutDlg7::DoDataExchange(CDataExchange* dx) {
    CWizardPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CAboutDlg7::OnInitDialog() {
    CWizardPage::OnInitDialog();
    StartWorker(RestoreSettingsWorker);
    return TRUE;
}
