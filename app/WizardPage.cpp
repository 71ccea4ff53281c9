#include "app/WizardPage.h"

#include <cstdlib>

#include "app/SharedState.h"
#include "app/MessageBoxes.h"

void CWizardPage::ConfirmExit() {
    if (MessageBox(kExitQuestionText, kExitQuestionCaption, MB_OKCANCEL | MB_ICONWARNING) == IDOK)
        std::exit(0);
}

// A message-map handler, so a member even though it needs no object.
void CWizardPage::OnFinish() {  // NOLINT(readability-convert-member-functions-to-static)
    std::exit(0);
}

void CWizardPage::RequestPortScan() const {
    ::SendMessageW(::GetParent(m_hWnd), WM_RESCAN_PORTS, 0, 0);
}
