#include "afxwin.h"

const AFX_MSGMAP* PASCAL CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY noEntries[] = {{0, 0, 0, 0, AfxSig_end, nullptr, nullptr, nullptr}};
    static const AFX_MSGMAP rootMap = {nullptr, &noEntries[0]};
    return &rootMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id) {
    for (; map != nullptr; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nSig != AfxSig_end; ++entry) {
            if (entry->nMessage != message)
                continue;
            if (message != WM_COMMAND)
                return entry;
            if (entry->nCode == code && entry->nID <= id && id <= entry->nLastID)
                return entry;
        }
    }
    return nullptr;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const UINT code = message == WM_COMMAND ? HIWORD(wParam) : 0;
    const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
    const AFX_MSGMAP_ENTRY* entry = AfxFindMessageEntry(GetMessageMap(), message, code, id);
    if (entry == nullptr)
        return FALSE;

    LRESULT value = 0;
    switch (entry->nSig) {
        case AfxSig_vv:
            (this->*entry->pfn)();
            break;
        case AfxSig_hv:
            value = reinterpret_cast<LRESULT>((this->*entry->pfnHcursor)());
            break;
        case AfxSig_lwl:
            value = (this->*entry->pfnMessage)(wParam, lParam);
            break;
        case AfxSig_end:
            return FALSE;
    }
    if (result != nullptr)
        *result = value;
    return TRUE;
}

void CWnd::Default() {
    m_defaultRequested = true;
}

LRESULT AfxCallWndProc(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    // A handler may send messages to its own window; each level keeps its own request.
    const bool outerRequest = wnd->m_defaultRequested;
    wnd->m_defaultRequested = false;
    LRESULT result = 0;
    try {
        *handled = wnd->OnWndMsg(message, wParam, lParam, &result);
    } catch (CException* e) {
        // Like the library: tell the user what went wrong and keep the window running.
        e->ReportError(MB_ICONERROR);
        e->Delete();
        *handled = TRUE;
        result = 0;
    }
    if (wnd->m_defaultRequested)
        *handled = FALSE;
    wnd->m_defaultRequested = outerRequest;
    return result;
}
