// The upload page's work: the chosen firmware image sent to the tracker's boot loader.
#pragma once
#include "link/Clock.h"
#include "link/WorkerReport.h"
#include "link/SerialPort.h"

// Uploads the image at firmwarePath over the tracker's port, moving the page's bar chunk by chunk,
// and reports; returns the worker thread's exit code (1 when the boot loader took the whole
// image, 0 otherwise).
int RunUploadWork(SerialPort& port, Clock& clock, WorkerReport& report, const wchar_t* firmwarePath);
