#include "app/Pages.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg3, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg3::CAboutDlg3() : CWizardPage(IDD_SAVE_PAGE) {}

CAboutDlg3::~CAboutDlg3() = default;

void CAboutDlg3::DoDataExchange(CDataExchange* dx) {
    CWizardPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CAboutDlg3::OnInitDialog() {
    CWizardPage::OnInitDialog();
    StartWorker(SaveSettingsWorker);
    return TRUE;
}
