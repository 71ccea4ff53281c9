#include "app/WizardPage.h"

#include <cstdlib>

#include "app/SharedState.h"
#include "app/MessageBoxes.h"
#include "log/SupportLog.h"

void CWizardPage::ConfirmExit() {
    LogLine("exit question asked");
    if (MessageBox(kExitQuestionText, kExitQuestionCaption, MB_OKCANCEL | MB_ICONWARNING) == IDOK) {
        LogLine("exit question: the user closed the program");
        std::exit(0);
    }
    LogLine("exit question: the user stayed");
}

// A message-map handler, so a member even though it needs no object.
void CWizardPage::OnFinish() {  // NOLINT(readability-convert-member-functions-to-static)
    LogLine("finish page: the user closed the program");
    std::exit(0);
}

void CWizardPage::RequestPortScan() const {
    ::SendMessageW(::GetParent(m_hWnd), WM_RESCAN_PORTS, 0, 0);
}
