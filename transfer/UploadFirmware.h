// The firmware upload: the chosen file to the tracker's boot loader over its COM port.
#pragma once
#include <windows.h>

#include "transfer/SerialPort.h"

// The window that is told how far the upload has got (WM_UPLOAD_PROGRESS); null for none.
extern HWND g_progressWindow;

// Sends the file at g_firmwarePath over the named port (ANSI, such as "COM7") at 115200 baud,
// reporting progress to page; 0 when the boot loader took all of it, 1 otherwise.
int UploadFirmware(HWND page, const char* portName);

// The transfer on a port that is already open: 0 on success, 1 on any failure.
int SendFirmwareFile(SerialPort* port);
