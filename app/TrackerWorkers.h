// The worker threads of the boot-loader page and the power-on page. Each is given its page
// object and ends the page with command 1, or with command 2 after an error box.
#pragma once
#include <windows.h>

DWORD WINAPI BootLoaderWaitWorker(LPVOID page);
DWORD WINAPI ResetWorker(LPVOID page);
