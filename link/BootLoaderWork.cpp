#include "link/BootLoaderWork.h"

#include "link/TrackerCommands.h"
#include "link/UserTexts.h"

int RunBootLoaderWork(CommandPort& port, Clock& clock, WorkerReport& report) {
    if (!WaitForBootLoader(port, clock))
        return report.Fail(kTrackerTimeoutText, WorkerReport::kErrorOk);
    return report.Done();
}
