#include "link/ResetWork.h"

#include "link/TrackerCommands.h"
#include "link/UserTexts.h"

int RunResetWork(CommandPort& port,
                 Clock& clock,
                 const std::function<bool()>& queryWindowsVersion,
                 WorkerReport& report) {
    if (!SendResetCommand(port, clock, queryWindowsVersion)) {
        report.Failed(kTrackerTimeoutText, WorkerReport::kErrorOk);
        return 0;
    }
    // The tracker restarts with its new firmware; its port is back once it opens again. The
    // first open that works counts, even one before the old port has gone away.
    const uint32_t startMs = clock.NowMs();
    for (;;) {
        if (port.Open()) {
            port.Close();
            report.Succeeded();
            return 1;
        }
        if (HasExceeded(clock.NowMs(), startMs, kTrackerWaitLimitMs)) {
            report.Failed(kTrackerTimeoutText, WorkerReport::kErrorOk);
            return 0;
        }
        clock.SleepMs(kReopenPauseMs);
    }
}
