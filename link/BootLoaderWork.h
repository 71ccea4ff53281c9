// The boot-loader page's work: the user holds the power button and presses Reset while the
// program asks for the boot loader, which must answer before the firmware can go out.
#pragma once
#include "link/Clock.h"
#include "link/CommandPort.h"
#include "link/WorkerReport.h"

// Waits for the boot loader and reports; returns the worker thread's exit code (1 when it
// answered, 0 otherwise).
int RunBootLoaderWork(CommandPort& port, Clock& clock, WorkerReport& report);
