// State that the wizard's pages and workers share for the whole run of the program.
#pragma once
#include <windows.h>

#include <cstdint>

#include "link/PortNameSlot.h"

// What the user asked the wizard to do (chosen on the first page).
enum Job {
    UpgradeKeepSettings = 0,
    UpgradeOnly = 1,
    RestoreSettings = 2,
};

// A page asks the main window to look for the tracker's port now.
constexpr UINT WM_RESCAN_PORTS = WM_USER + 3;
// The firmware transfer tells the upload page how many 1024-byte chunks it has handled.
constexpr UINT WM_UPLOAD_PROGRESS = WM_USER + 2;

constexpr size_t kFirmwarePathChars = 512;

extern int g_job;
// The COM port on which the tracker was last found; empty when none is known. Written by port
// discovery on the user-interface thread and read by workers, hence the guarded slot.
extern PortNameSlot g_portName;
extern wchar_t g_firmwarePath[kFirmwarePathChars];
// The tracker's command port while an exchange holds it open.
extern HANDLE g_portHandle;
extern uint64_t g_imageSize;
