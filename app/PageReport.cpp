#include "app/PageReport.h"

#include <commctrl.h>

#include "afxwin.h"
#include "app/MessageBoxes.h"
#include "log/SupportLog.h"

int ShowFailureBox(HWND owner, Failure cause) {
    const FailureBox& box = FailureBoxFor(cause);
    LogLine("error box: \"%s\" (%s)", Utf8(box.text).c_str(), box.cause);
    return ::MessageBoxW(owner, box.text, kErrorCaption, box.style);
}

HWND PageWindow(LPVOID page) {
    return static_cast<CWnd*>(page)->m_hWnd;
}

void PageReport::ProgressRange(uint32_t lowest, uint32_t highest) {
    // The upload's bar counts the image's KiB, which may be more than 16 bits hold.
    ::SendMessageW(progress_, PBM_SETRANGE32, lowest, static_cast<LPARAM>(highest));
}

void PageReport::ProgressPosition(uint32_t position) {
    ::SendMessageW(progress_, PBM_SETPOS, position, 0);
}

void PageReport::Succeeded() {
    ::SendMessageW(page_, WM_WORK_ENDED, IDOK, 0);
}

void PageReport::Failed(Failure cause) {
    // Shown from the worker's thread and owned by the page, which it keeps disabled meanwhile;
    // the page asks whether to close the program only once the user has read this.
    ShowFailureBox(page_, cause);
    ::SendMessageW(page_, WM_WORK_ENDED, IDCANCEL, 0);
}
