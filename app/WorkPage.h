#pragma once
#include "afxcmn.h"
#include "app/WizardPage.h"

// A page whose work runs on a worker thread (pages 4 to 8). It ends only when its work says
// so: two workers would share the tracker's port if the user could leave a page while its
// work still ran and open the next.
class CWorkPage : public CWizardPage {
public:
    explicit CWorkPage(UINT templateId) : CWizardPage(templateId) {}

protected:
    // Starts the page's worker thread with this page as its argument. The page never waits for
    // it: the worker ends the page, and so does a worker that cannot start.
    void StartWorker(LPTHREAD_START_ROUTINE worker);
    // Command 1, from Enter or from a button with id 1 that a resource library's template
    // shows, does nothing: only the work's own message ends the page.
    void OnOK() override {}
    LRESULT OnWorkEnded(WPARAM outcome, LPARAM);
    DECLARE_MESSAGE_MAP()
};

// A working page with a bar (pages 4, 6 and 8), which its work's report moves.
class CBarPage : public CWorkPage {
public:
    explicit CBarPage(UINT templateId) : CWorkPage(templateId) {}
    CProgressCtrl m_progress;

protected:
    void DoDataExchange(CDataExchange* dx) override;
};
