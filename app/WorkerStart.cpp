#include "app/WorkerStart.h"

#include "log/SupportLog.h"

bool StartPageWorker(LPTHREAD_START_ROUTINE worker, LPVOID page, WorkerReport& report, ThreadStarter start) {
    DWORD threadId;
    const HANDLE thread = start(nullptr, 0, worker, page, 0, &threadId);
    if (thread == nullptr) {
        LogLine("worker thread not started; Windows error %lu", ::GetLastError());
        report.Failed(Failure::kWorkNotStarted);
        return false;
    }
    ::CloseHandle(thread);
    return true;
}
