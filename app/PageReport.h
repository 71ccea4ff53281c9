// A worker's report to its page: the closing command by SendMessage, after the worker's own
// error box when the work failed.
#pragma once
#include <windows.h>

#include "link/WorkerReport.h"

// The window of the page object that a worker thread was started with.
HWND PageWindow(LPVOID page);

class PageReport : public WorkerReport {
public:
    PageReport(HWND page, const wchar_t* errorText) : page_(page), errorText_(errorText) {}
    void Succeeded() override;
    void Failed() override;

private:
    HWND page_;
    const wchar_t* errorText_;
};
