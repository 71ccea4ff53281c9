#include "link/WindowsVersion.h"

#include <windows.h>

bool QueryWindowsVersion() {
    OSVERSIONINFOEXW extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended)))
        return true;
    OSVERSIONINFOW plain = {};
    plain.dwOSVersionInfoSize = sizeof plain;
    return ::GetVersionExW(&plain) != FALSE;
}
