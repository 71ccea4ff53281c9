#include "app/WizardPage.h"

#include <cstdlib>

#include "app/SharedState.h"

void CWizardPage::ConfirmExit() {
    if (MessageBox(L"Закрыть программу  KV-718 Firmware Tool?", L"Предупреждение!",
                   MB_OKCANCEL | MB_ICONWARNING) == IDOK)
        std::exit(0);
}

void CWizardPage::OnFinish() {
    std::exit(0);
}

void CWizardPage::RequestPortScan() const {
    ::SendMessageW(::GetParent(m_hWnd), WM_RESCAN_PORTS, 0, 0);
}

void CWizardPage::StartWorker(LPTHREAD_START_ROUTINE worker) {
    DWORD threadId;
    HANDLE thread = ::CreateThread(nullptr, 0, worker, this, 0, &threadId);
    if (thread != nullptr)
        ::CloseHandle(thread);
}
