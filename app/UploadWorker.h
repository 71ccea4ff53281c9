// The upload page's worker thread: sends the firmware and ends the page with command 1, or with
// command 2 after an error box.
#pragma once
#include <windows.h>

DWORD WINAPI UploadWorker(LPVOID page);
