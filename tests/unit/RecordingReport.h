// A worker's report as one text, so that a test compares what the page was told, in order.
#pragma once
#include <string>

#include "link/WorkerReport.h"

// A worker's report as one text: "range 0..50; at 1; ...; succeeded; ".
class RecordingReport : public WorkerReport {
public:
    void ProgressRange(uint32_t lowest, uint32_t highest) override {
        log += L"range " + std::to_wstring(lowest) + L".." + std::to_wstring(highest) + L"; ";
    }
    void ProgressPosition(uint32_t position) override { log += L"at " + std::to_wstring(position) + L"; "; }
    void Succeeded() override { log += L"succeeded; "; }
    void Failed(const wchar_t* text, unsigned style) override {
        log += text + (L" " + std::to_wstring(style)) + L"; ";
    }
    std::wstring log;
};
