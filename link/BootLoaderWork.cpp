#include "link/BootLoaderWork.h"

#include "link/TrackerCommands.h"
#include "link/UserTexts.h"

int RunBootLoaderWork(CommandPort& port, Clock& clock, WorkerReport& report) {
    if (!WaitForBootLoader(port, clock)) {
        report.Failed(kTrackerTimeoutText, WorkerReport::kErrorOk);
        return 0;
    }
    report.Succeeded();
    return 1;
}
