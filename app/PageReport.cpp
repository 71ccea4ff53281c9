#include "app/PageReport.h"

#include "afxwin.h"

HWND PageWindow(LPVOID page) {
    return static_cast<CWnd*>(page)->m_hWnd;
}

void PageReport::Succeeded() {
    ::SendMessageW(page_, WM_COMMAND, IDOK, 0);
}

void PageReport::Failed() {
    // Shown from the worker's thread and owned by the page, which it keeps disabled meanwhile;
    // the page asks whether to close the program only once the user has read this.
    ::MessageBoxW(page_, errorText_, L"Ошибка!", MB_ICONERROR);
    ::SendMessageW(page_, WM_COMMAND, IDCANCEL, 0);
}
