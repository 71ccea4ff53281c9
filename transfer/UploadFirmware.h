// The firmware upload: the chosen file to the tracker's boot loader over its COM port.
#pragma once
#include <windows.h>

#include "transfer/SerialPort.h"

// The upload tells the window in g_progressWindow how many 1024-byte chunks it has handled
// (wParam) of an image of lParam KiB.
constexpr UINT WM_UPLOAD_PROGRESS = WM_USER + 2;

// The window that is told how far the upload has got; null for none.
extern HWND g_progressWindow;

// Sends the file at firmwarePath over the named port (ANSI, such as "COM7") at 115200 baud,
// reporting progress to page; 0 when the boot loader took all of it, 1 otherwise.
int UploadFirmware(HWND page, const char* portName, const wchar_t* firmwarePath);

// The transfer on a port that is already open: 0 on success, 1 on any failure.
int SendFirmwareFile(SerialPort* port);
