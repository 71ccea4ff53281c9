#include "link/FriendlyName.h"

#include <cwchar>

bool IsTrackerBridgeName(const wchar_t* friendlyName) {
    if (friendlyName == nullptr) {
        return false;
    }
    return wcsstr(friendlyName, L"STM") != nullptr || wcsstr(friendlyName, L"Prolific") != nullptr;
}

// A bridge with a name we can't cut is skipped rather than guessed at: every later open builds
// "\\.\<name>" from the result, so a truncated or overlong name would only fail later and
// further from the cause. An empty "()" is skipped too, since an empty port name means "no
// tracker" to the connect page and the workers.
bool CutPortName(const wchar_t* friendlyName, wchar_t (&port)[kMaxPortNameChars + 1]) {
    port[0] = L'\0';
    if (friendlyName == nullptr) {
        return false;
    }
    const wchar_t* open = wcschr(friendlyName, L'(');
    if (open == nullptr) {
        return false;
    }
    const wchar_t* first = open + 1;
    const wchar_t* close = wcschr(first, L')');
    if (close == nullptr) {
        return false;
    }
    const size_t length = static_cast<size_t>(close - first);
    if (length == 0 || length > kMaxPortNameChars) {
        return false;
    }
    wmemcpy(port, first, length);
    port[length] = L'\0';
    return true;
}
