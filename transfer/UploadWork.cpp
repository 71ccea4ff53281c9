#include "transfer/UploadWork.h"

#include "transfer/UploadFirmware.h"

int RunUploadWork(SerialPort& port, Clock& clock, WorkerReport& report, const wchar_t* firmwarePath) {
    // Every failure, from a port that would not open to the tracker cancelling, gets the same
    // box; the port and the file are closed before it shows.
    if (UploadFirmware(port, clock, &report, firmwarePath) != 0)
        return report.Fail(Failure::kUploadFailed);
    return report.Done();
}
