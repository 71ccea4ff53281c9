#include "afxwin.h"

BOOL CException::GetErrorMessage(LPWSTR error, UINT maxError, PUINT helpContext) const {
    if (helpContext != nullptr)
        *helpContext = 0;
    if (error != nullptr && maxError > 0)
        error[0] = L'\0';
    return FALSE;
}

int CException::ReportError(UINT type, UINT) const {
    wchar_t message[512] = {};
    if (!GetErrorMessage(message, 512) || message[0] == L'\0')
        lstrcpynW(message, L"An unsupported operation was attempted.", 512);
    CWinApp* app = AfxGetApp();
    CWnd* mainWindow = AfxGetMainWnd();
    HWND owner = ::GetActiveWindow();
    if (owner == nullptr && mainWindow != nullptr)
        owner = mainWindow->m_hWnd;
    return ::MessageBoxW(owner, message, app != nullptr ? app->m_pszAppName : nullptr, type);
}

BOOL CInvalidArgException::GetErrorMessage(LPWSTR error, UINT maxError, PUINT helpContext) const {
    if (helpContext != nullptr)
        *helpContext = 0;
    if (error == nullptr || maxError == 0)
        return FALSE;
    lstrcpynW(error, L"Encountered an improper argument.", static_cast<int>(maxError));
    return TRUE;
}
