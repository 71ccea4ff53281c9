// A worker's report as one text, so that a test compares what the page was told, in order.
#pragma once
#include <string>

#include "app/MessageBoxes.h"
#include "link/WorkerReport.h"

// A worker's report as one text: "range 0..50; at 1; ...; succeeded; ".
class RecordingReport : public WorkerReport {
public:
    void ProgressRange(uint32_t lowest, uint32_t highest) override {
        log += L"range " + std::to_wstring(lowest) + L".." + std::to_wstring(highest) + L"; ";
    }
    void ProgressPosition(uint32_t position) override { log += L"at " + std::to_wstring(position) + L"; "; }
    void Succeeded() override { log += L"succeeded; "; }
    // The box the user would read: its text and its style, as the page shows it.
    void Failed(Failure cause) override {
        const FailureBox& box = FailureBoxFor(cause);
        log += box.text + (L" " + std::to_wstring(box.style)) + L"; ";
    }
    std::wstring log;
};
