// The save page's work: the tracker's settings read and kept in the backup before the firmware
// goes out.
#pragma once
#include "link/Clock.h"
#include "link/CommandPort.h"
#include "link/WorkerReport.h"

// Reads the tracker's settings and stores them as the backup at backupPath; the previous
// backup stays as it was unless the new one is whole. Returns the worker thread's exit code
// (1 when the backup was written, 0 otherwise).
int RunSaveSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath);
