// The upload page's work: the chosen firmware image sent to the tracker's boot loader.
#pragma once
#include <windows.h>

#include <cstdint>

#include "link/Clock.h"
#include "link/WorkerReport.h"
#include "link/SerialPort.h"

// The image as the upload page opened it, for as long as the upload runs.
struct FirmwareImage {
    HANDLE file;          // open for reading; the page's to close
    const wchar_t* path;  // its full path, which block 0 names
    uint64_t size;        // its length in bytes
};

// Uploads the image, from its first byte, over the tracker's port, moving the page's bar chunk by
// chunk, and reports; the port is closed on return, the image left open. Returns the worker
// thread's exit code (1 when the boot loader took the whole image, 0 otherwise).
int RunUploadWork(SerialPort& port, Clock& clock, WorkerReport& report, const FirmwareImage& image);
