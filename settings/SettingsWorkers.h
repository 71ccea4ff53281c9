// The work of the two pages that carry the tracker's settings across an upgrade: saving them
// to the backup before the firmware goes out, and writing the backup back after.
#pragma once
#include "link/Clock.h"
#include "link/CommandPort.h"
#include "link/WorkerReport.h"

// Reads the tracker's settings and stores them as the backup at backupPath; the previous
// backup stays as it was unless the new one is whole. Returns the worker thread's exit code
// (1 when the backup was written, 0 otherwise).
int RunSaveSettings(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath);

// Sends every line of the backup at backupPath to the tracker, one a second. A line that
// cannot be sent is reported, and the rest still go out if the user stays. Returns the worker
// thread's exit code (1 when it got through the backup, 0 otherwise).
int RunRestoreSettings(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath);
