#include "afxwin.h"

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(LPCWSTR text) const {
    ::SetWindowTextW(m_hWnd, text);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) const {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) const {
    if (caption == nullptr && AfxGetApp() != nullptr)
        caption = AfxGetApp()->m_pszAppName;
    return ::MessageBoxW(m_hWnd, text, caption, type);
}

void CWnd::GetDlgItem(int id, HWND* control) const {
    *control = ::GetDlgItem(m_hWnd, id);
}

void CWnd::SetDlgItemText(int id, LPCWSTR text) const {
    ::SetDlgItemTextW(m_hWnd, id, text);
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
}
