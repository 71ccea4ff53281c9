#include "link/BootLoaderWork.h"

#include "link/TrackerCommands.h"

int RunBootLoaderWork(CommandPort& port, Clock& clock, WorkerReport& report) {
    if (!WaitForBootLoader(port, clock))
        return report.Fail(Failure::kTrackerSilent);
    return report.Done();
}
