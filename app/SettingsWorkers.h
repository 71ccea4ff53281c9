// The worker threads of the save page (4) and the restore page (8). Each is given its page
// object, moves the page's bar, and ends the page with command 1, or with command 2 after an
// error box.
#pragma once
#include <windows.h>

DWORD WINAPI SaveSettingsWorker(LPVOID page);
DWORD WINAPI RestoreSettingsWorker(LPVOID page);
