#include "link/FriendlyName.h"

#include <cwchar>

bool IsTrackerBridgeName(const wchar_t* friendlyName) {
    if (friendlyName == nullptr) {
        return false;
    }
    return wcsstr(friendlyName, L"STM") != nullptr || wcsstr(friendlyName, L"Prolific") != nullptr;
}

// Windows ends a port's friendly name with its port name in parentheses, "(COM7)". Only that
// form is taken: every later open builds "\\.\<name>" from the result, so anything else, a
// path above all, would open something that is not the tracker and write its commands there. A
// bridge whose name holds no such port is skipped rather than guessed at; so is an overlong
// number, which would only fail later and further from the cause.
bool CutPortName(const wchar_t* friendlyName, wchar_t (&port)[kMaxPortNameChars + 1]) {
    port[0] = L'\0';
    if (friendlyName == nullptr) {
        return false;
    }
    const wchar_t* open = wcsrchr(friendlyName, L'(');
    if (open == nullptr) {
        return false;
    }
    const wchar_t* first = open + 1;
    const wchar_t* close = wcschr(first, L')');
    if (close == nullptr || wcsncmp(first, L"COM", 3) != 0) {
        return false;
    }
    const wchar_t* digits = first + 3;
    const size_t length = static_cast<size_t>(close - first);
    if (close == digits || *digits == L'0' || length > kMaxPortNameChars) {
        return false;
    }
    for (const wchar_t* digit = digits; digit != close; ++digit) {
        if (*digit < L'0' || *digit > L'9') {
            return false;
        }
    }
    wmemcpy(port, first, length);
    port[length] = L'\0';
    return true;
}
