#include "app/Pages.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg5, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CAboutDlg5::CAboutDlg5() : CWizardPage(IDD_UPLOAD_PAGE) {}

CAboutDlg5::~CAboutDlg5() = default;

void CAboutDlg5::DoDataExchange(CDataExchange* dx) {
    CWizardPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}
