// The firmware upload: the chosen file to the tracker's boot loader over its COM port.
#pragma once
#include <cstdint>

#include "link/Clock.h"
#include "link/WorkerReport.h"
#include "link/SerialPort.h"

// Sends the file at firmwarePath over the tracker's port, telling progress, which may be null,
// of every chunk; the port and the file are closed on return. 0 when the boot loader took all of
// it, 1 otherwise.
int UploadFirmware(SerialPort& port, Clock& clock, WorkerReport* progress, const wchar_t* firmwarePath);
