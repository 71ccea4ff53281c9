#include "afxwin.h"
#include "log/SupportLog.h"

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
    // The library's own box comes from no page's table: the support log is told its words, and
    // for a file, the system's error behind it.
    const std::string shown = Utf8(message);
    if (const auto* fileError = dynamic_cast<const CFileException*>(this))
        LogLine("error box (class library): \"%s\"; Windows error %ld", shown.c_str(), fileError->m_lOsError);
    else
        LogLine("error box (class library): \"%s\"", shown.c_str());
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
