// How a page's worker tells the page how its work ended. The program's report goes to the
// page's window; unit tests record the calls.
#pragma once

class WorkerReport {
public:
    virtual ~WorkerReport() = default;
    // The work is done: the page ends and the wizard goes on.
    virtual void Succeeded() = 0;
    // The work failed: the user sees the worker's error box, then the page's exit question.
    virtual void Failed() = 0;
};
