// The worker threads of pages 4 to 8, one for each page's work. Each is given its page object,
// moves the page's bar where it has one, and ends the page when its work is done, or asks whether
// to close the program after an error box.
#pragma once
#include <windows.h>

DWORD WINAPI SaveSettingsWorker(LPVOID page);
DWORD WINAPI BootLoaderWorker(LPVOID page);
DWORD WINAPI UploadWorker(LPVOID page);
DWORD WINAPI RestartWorker(LPVOID page);
DWORD WINAPI RestoreSettingsWorker(LPVOID page);
