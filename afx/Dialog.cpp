#include "afxwin.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal() {
    // Pages are owned by the main window, which the dialog manager disables while they are up.
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    CWnd* mainWindow = AfxGetMainWnd();
    if (owner == nullptr && mainWindow != nullptr && mainWindow != this)
        owner = mainWindow->m_hWnd;

    const INT_PTR result = ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                                             AfxDlgProc, reinterpret_cast<LPARAM>(this));
    // The object holds a window only while the dialog is on screen; so do its bound controls.
    m_hWnd = nullptr;
    for (CWnd* control : m_boundControls)
        control->m_hWnd = nullptr;
    m_boundControls.clear();
    return result;
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

// The pages exchange only control bindings, which are the same in either direction.
BOOL CDialog::UpdateData(BOOL /*saveAndValidate*/) {
    CDataExchange dx(this);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    return OnInitDialog();
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    CDialog* dialog = dx->m_pDlgWnd;
    if (control.m_hWnd != nullptr)
        return;
    control.m_hWnd = ::GetDlgItem(dialog->m_hWnd, id);
    dialog->m_boundControls.push_back(&control);
}

namespace {

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        default:
            return false;
    }
}

}  // namespace

INT_PTR CALLBACK AfxDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    } else {
        dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (dialog == nullptr)
        return FALSE;

    BOOL handled = FALSE;
    const LRESULT result = AfxCallWndProc(dialog, message, wParam, lParam, &handled);
    if (message == WM_NCDESTROY)
        dialog->m_hWnd = nullptr;
    if (!handled)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}
