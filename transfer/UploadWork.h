// The upload page's work: the chosen firmware image sent to the tracker's boot loader.
#pragma once
#include "link/Clock.h"
#include "link/WorkerReport.h"
#include "transfer/SerialPort.h"

// Uploads the image at firmwarePath over the named port, moving the page's bar chunk by chunk,
// and reports; returns the worker thread's exit code (1 when the boot loader took the whole
// image, 0 otherwise).
int RunUploadWork(SerialPort& port,
                  Clock& clock,
                  WorkerReport& report,
                  const char* portName,
                  const wchar_t* firmwarePath);
