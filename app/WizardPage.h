#pragma once
#include "afxwin.h"

// A page of the wizard: a modal dialog on one of the program's templates. Cancel, Esc and the
// title-bar close button arrive as command 2 and ask whether to close the program.
class CWizardPage : public CDialog {
public:
    explicit CWizardPage(UINT templateId) : CDialog(templateId) {}

protected:
    // Asks "close the program?"; OK ends the process at once with exit code 0, leaving any
    // worker where it is. Cancel keeps the page as it was.
    void ConfirmExit();
    // The finish page's button: the job is done, the program ends with exit code 0.
    void OnFinish();
    // Has the main window look for the tracker's port now; the page's port box shows the
    // result before this returns.
    void RequestPortScan() const;
};
