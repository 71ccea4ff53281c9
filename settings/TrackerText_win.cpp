#include "settings/TrackerText.h"

#include <windows.h>

std::wstring WidenTrackerText(const std::string& bytes) {
    if (bytes.empty())
        return std::wstring();
    const int size = static_cast<int>(bytes.size());
    const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), size, wide.data(), units);
    return wide;
}

bool WidenTrackerTextExactly(const std::string& bytes, std::wstring& text) {
    text.clear();
    const int size = static_cast<int>(bytes.size());
    const int units =
        ::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0)
        return false;
    text.resize(static_cast<size_t>(units));
    ::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(), units);
    std::string back;
    return NarrowTrackerText(text, back) && back == bytes;
}

bool NarrowTrackerText(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    bytes.resize(static_cast<size_t>(length));
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    // A character the code page lacks comes out as a default or best-fit byte; only a text that
    // reads back the same went over exactly.
    return WidenTrackerText(bytes) == text;
}
