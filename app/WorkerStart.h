// Starting a page's worker thread. A page whose worker never runs would wait for ever with no
// word, so a thread that cannot be made is a failure of the page like any other.
#pragma once
#include <windows.h>

#include "link/WorkerReport.h"

using ThreadStarter =
    HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);

// Starts worker with page as its argument and lets it run on its own; when no thread can be
// made, report shows why and asks whether to close the program. True when the worker runs.
bool StartPageWorker(LPTHREAD_START_ROUTINE worker,
                     LPVOID page,
                     WorkerReport& report,
                     ThreadStarter start = ::CreateThread);
