// What the wizard's pages share for the whole run of the program.
#pragma once
#include <windows.h>

#include <cstdint>

// What the user asked the wizard to do (chosen on the first page).
enum Job {
    UpgradeKeepSettings = 0,
    UpgradeOnly = 1,
    RestoreSettings = 2,
};

// A page asks the main window to look for the tracker's port now.
constexpr UINT WM_RESCAN_PORTS = WM_USER + 3;

constexpr size_t kFirmwarePathChars = 512;

extern int g_job;
extern wchar_t g_firmwarePath[kFirmwarePathChars];
