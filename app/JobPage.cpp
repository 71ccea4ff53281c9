#include "app/Pages.h"
#include "app/SharedState.h"
#include "log/SupportLog.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CJobPage, CWizardPage)
ON_BN_CLICKED(IDOK, OnNextJob)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
END_MESSAGE_MAP()

CJobPage::CJobPage() : CWizardPage(IDD_JOB_PAGE) {}

BOOL CJobPage::OnInitDialog() {
    CWizardPage::OnInitDialog();
    SendDlgItemMessage(IDC_JOB_KEEP_SETTINGS, BM_SETCHECK, BST_CHECKED);
    return TRUE;
}

void CJobPage::OnNextJob() {
    static const struct {
        int buttonId;
        Job job;
    } kChoices[] = {
        {IDC_JOB_KEEP_SETTINGS, UpgradeKeepSettings},
        {IDC_JOB_UPGRADE_ONLY, UpgradeOnly},
        {IDC_JOB_RESTORE, RestoreSettings},
    };
    for (const auto& choice : kChoices)
        if (SendDlgItemMessage(choice.buttonId, BM_GETCHECK) == BST_CHECKED)
            g_job = choice.job;
    LogLine("job %d chosen", g_job);
    OnOK();
}
