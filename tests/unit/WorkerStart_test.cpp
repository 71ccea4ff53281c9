// A page whose worker cannot start.
#include "app/WorkerStart.h"

#include <gtest/gtest.h>

#include "RecordingReport.h"

namespace {

HANDLE WINAPI NoThreads(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    return nullptr;
}

DWORD WINAPI Worker(LPVOID) {
    return 1;
}

}  // namespace

TEST(WorkerStart, PageWhoseWorkerCannotStartSaysSoAndAsksToClose) {
    RecordingReport report;
    EXPECT_FALSE(StartPageWorker(Worker, nullptr, report, NoThreads));
    EXPECT_EQ(L"Невозможно начать операцию! 16; ", report.log);
}
