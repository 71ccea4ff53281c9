// How a page's work tells its page how it goes: the page's progress bar, and how the work
// ended. The program's report goes to the page's window; unit tests record the calls.
#pragma once
#include <cstdint>

#include "link/Failure.h"

class WorkerReport {
public:
    virtual ~WorkerReport() = default;
    // The page's bar, for the workers whose page has one.
    virtual void ProgressRange(uint32_t lowest, uint32_t highest) = 0;
    virtual void ProgressPosition(uint32_t position) = 0;
    // The work is done: the page ends and the wizard goes on.
    virtual void Succeeded() = 0;
    // The work failed: the user reads why in an error box, then the page asks whether to close
    // the program. Returns only if the user chose to stay.
    virtual void Failed(Failure cause) = 0;

    // The work ends here: the report, then the worker thread's exit code (1 done, 0 failed).
    int Done() {
        Succeeded();
        return 1;
    }
    int Fail(Failure cause) {
        Failed(cause);
        return 0;
    }
};
