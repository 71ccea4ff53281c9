// The restore page's work: the backup written back to the tracker after its new firmware has
// brought factory settings.
#pragma once
#include "link/Clock.h"
#include "link/CommandPort.h"
#include "link/WorkerReport.h"

// Sends every line of the backup at backupPath to the tracker, one a second. A line that
// cannot be sent is reported, and the rest still go out if the user stays; the work then ends
// as failed all the same. A port that has gone ends it at once. Returns the worker thread's exit code (1 when
// every line went out, 0 otherwise).
int RunRestoreSettingsWork(CommandPort& port, Clock& clock, WorkerReport& report, const wchar_t* backupPath);
