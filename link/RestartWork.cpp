#include "link/RestartWork.h"

#include "link/TrackerCommands.h"
#include "log/SupportLog.h"

int RunRestartWork(CommandPort& port,
                   Clock& clock,
                   const std::function<bool()>& queryWindowsVersion,
                   WorkerReport& report) {
    if (!SendResetCommand(port, clock, queryWindowsVersion))
        return report.Fail(Failure::kTrackerSilent);
    // The tracker restarts with its new firmware; its port is back once it opens again. The
    // first open that works counts, even one before the old port has gone away.
    const uint32_t startMs = clock.NowMs();
    for (;;) {
        if (port.Open()) {
            port.Close();
            LogLine("the tracker's port is back after %u ms", clock.NowMs() - startMs);
            return report.Done();
        }
        if (HasExceeded(clock.NowMs(), startMs, kTrackerWaitLimitMs)) {
            LogLine("the tracker's port is not back within %u ms", kTrackerWaitLimitMs);
            return report.Fail(Failure::kTrackerSilent);
        }
        clock.SleepMs(kReopenPauseMs);
    }
}
