#include "app/WorkPage.h"

#include "app/PageReport.h"
#include "app/WorkerStart.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CWorkPage, CWizardPage)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
ON_MESSAGE(WM_WORK_ENDED, OnWorkEnded)
END_MESSAGE_MAP()

void CWorkPage::StartWorker(LPTHREAD_START_ROUTINE worker) {
    PageReport report(m_hWnd);
    StartPageWorker(worker, this, report);
}

// The work's report waits in SendMessage meanwhile: after a failure the work goes on only once
// the user has chosen to stay.
LRESULT CWorkPage::OnWorkEnded(WPARAM outcome, LPARAM) {
    if (outcome == IDOK)
        EndDialog(IDOK);
    else
        ConfirmExit();
    return 0;
}

void CBarPage::DoDataExchange(CDataExchange* dx) {
    CWorkPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}
