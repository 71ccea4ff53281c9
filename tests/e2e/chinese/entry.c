// The library's entry point ends the program at once with exit code 3. A program that maps the
// library as resources only never calls it; one that loads it as code is caught by a scenario
// that waits for the main window and finds the program gone.
#include <windows.h>

BOOL WINAPI LibraryEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        ExitProcess(3);
    return TRUE;
}
