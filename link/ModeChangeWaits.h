// The work of the two pages that wait for the tracker to change its mode: the boot loader
// before the firmware goes out, and the restart after it.
#pragma once
#include <functional>

#include "link/Clock.h"
#include "link/CommandPort.h"
#include "link/WorkerReport.h"

// Waits for the boot loader and reports; returns the worker thread's exit code (1 when it
// answered, 0 otherwise).
int RunBootLoaderWait(CommandPort& port, Clock& clock, WorkerReport& report);

// Sends the reset command, then waits until the tracker's port opens again; returns the
// worker thread's exit code (1 when the port came back, 0 otherwise).
int RunResetWait(CommandPort& port,
                 Clock& clock,
                 const std::function<bool()>& queryWindowsVersion,
                 WorkerReport& report);
