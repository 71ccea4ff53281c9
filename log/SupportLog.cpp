#include "log/SupportLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

std::atomic<LogSink*> g_sink{nullptr};

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
        return;
    }
    const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static const uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[tail] | (code >> (6 * tail)));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6)
        out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

bool IsHighSurrogate(uint32_t code) {
    return code >= 0xD800 && code <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t code) {
    return code >= 0xDC00 && code <= 0xDFFF;
}

}  // namespace

void SetLogSink(LogSink* sink) {
    g_sink = sink;
}

// printf's own format, so that the compiler checks every call's arguments against it.
void LogLine(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    LogSink* const sink = g_sink;
    if (sink == nullptr)
        return;
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        (void)std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    sink->WriteLine(text);
}

std::string Utf8(const wchar_t* text) {
    std::string out;
    for (const wchar_t* at = text; at != nullptr && *at != L'\0'; ++at) {
        auto code = static_cast<uint32_t>(*at);
        // A wide character is a UTF-16 unit on Windows: a pair of surrogates is one character, and
        // a lone one, like anything past Unicode, shows as the replacement character.
        if (IsHighSurrogate(code) && IsLowSurrogate(static_cast<uint32_t>(at[1]))) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(at[1]) - 0xDC00);
            ++at;
        } else if (IsHighSurrogate(code) || IsLowSurrogate(code) || code > 0x10FFFF) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}
