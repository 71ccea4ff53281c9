// The restart page's work: the tracker restarts with its new firmware, and the program waits
// for its port to come back before the settings are written back.
#pragma once
#include <functional>

#include "link/Clock.h"
#include "link/CommandPort.h"
#include "link/WorkerReport.h"

// Sends the reset command, then waits until the tracker's port opens again; returns the
// worker thread's exit code (1 when the port came back, 0 otherwise).
int RunRestartWork(CommandPort& port,
                   Clock& clock,
                   const std::function<bool()>& queryWindowsVersion,
                   WorkerReport& report);
