// A worker's report to its page, all by SendMessage: the bar's range and position to the page's
// progress control, and the end of the work to the page, after the worker's own error box when
// the work failed.
#pragma once
#include <windows.h>

#include "link/WorkerReport.h"

// The page's work has ended: wParam IDOK when it is done, IDCANCEL when it failed. The program's
// own message, so that no command of a template's button can pass for it.
constexpr UINT WM_WORK_ENDED = WM_APP + 1;

// Shows the failure's error box, owned by owner, and tells the support log its words and cause;
// the user's answer.
int ShowFailureBox(HWND owner, Failure cause);

// The window of the page object that a worker thread was started with.
HWND PageWindow(LPVOID page);

class PageReport : public WorkerReport {
public:
    // progress: the page's bar, or null for a page without one.
    explicit PageReport(HWND page, HWND progress = nullptr) : page_(page), progress_(progress) {}
    void ProgressRange(uint32_t lowest, uint32_t highest) override;
    void ProgressPosition(uint32_t position) override;
    void Succeeded() override;
    void Failed(Failure cause) override;

private:
    HWND page_;
    HWND progress_;
};
