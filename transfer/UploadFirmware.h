// The firmware upload: the chosen file to the tracker's boot loader over its COM port.
#pragma once
#include <cstdint>

#include "link/Clock.h"
#include "link/WorkerReport.h"
#include "transfer/SerialPort.h"

// Sends the file at firmwarePath over the named port (ANSI, such as "COM7") at 115200 baud,
// telling progress, which may be null, of every chunk; the port and the file are closed on
// return. 0 when the boot loader took all of it, 1 otherwise.
int UploadFirmware(SerialPort& port,
                   Clock& clock,
                   WorkerReport* progress,
                   const char* portName,
                   const wchar_t* firmwarePath);
