// The tracker's settings travel as 8-bit text in the code page of the user's regional settings
// (the thread's code page); the program holds them as wide text. Both directions use the same
// code page, so a setting comes back to the tracker byte for byte.
#pragma once
#include <string>

std::wstring WidenTrackerText(const std::string& bytes);

// The tracker's bytes as wide text, exactly: false when a byte is no character of that code page
// (a lone lead byte of a double-byte one, say) or the text would not narrow back to the very same
// bytes, so that a setting is never kept changed.
bool WidenTrackerTextExactly(const std::string& bytes, std::wstring& text);

// The text as the tracker's 8-bit bytes; false when a character has no exact byte in that code
// page, so that a setting is never sent changed ("?" or a look-alike letter), and for no text.
bool NarrowTrackerText(const std::wstring& text, std::string& bytes);
