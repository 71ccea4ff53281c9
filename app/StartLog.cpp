#include "app/StartLog.h"

#include <windows.h>

#include "log/LogFile.h"
#include "log/TemporaryFolder.h"

namespace {

// The version block's fixed part follows its header (three words and "VS_VERSION_INFO", padded to
// 32 bits); its signature says it is there.
constexpr size_t kFixedInfoOffset = 40;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;

void LogProgramVersion() {
    const HMODULE program = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(program, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    const auto* block =
        found != nullptr ? static_cast<const BYTE*>(::LockResource(::LoadResource(program, found))) : nullptr;
    VS_FIXEDFILEINFO info = {};
    if (block != nullptr && ::SizeofResource(program, found) >= kFixedInfoOffset + sizeof info)
        memcpy(&info, block + kFixedInfoOffset, sizeof info);
    if (info.dwSignature != kFixedInfoSignature) {
        LogLine("KV_Firmware_Tool, version unknown");
        return;
    }
    LogLine("KV_Firmware_Tool %u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
            HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
}

// Asked of the kernel itself: what GetVersionEx tells a program without a manifest naming the
// system is not the system's version.
void LogWindowsVersion() {
    using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (found == nullptr ||
        reinterpret_cast<RtlGetVersion>(reinterpret_cast<void (*)()>(found))(&version) != 0) {
        LogLine("Windows version unknown");
        return;
    }
    LogLine("Windows %lu.%lu build %lu %s", version.dwMajorVersion, version.dwMinorVersion,
            version.dwBuildNumber, Utf8(version.szCSDVersion).c_str());
}

// The settings are widened and narrowed in the thread's code page; where it differs from the
// system's, Cyrillic settings are the first to suffer.
void LogCodePages() {
    wchar_t threadCodePage[8] = L"?";
    ::GetLocaleInfoW(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, threadCodePage, 8);
    LogLine("code pages: system %u, OEM %u, thread %s", ::GetACP(), ::GetOEMCP(),
            Utf8(threadCodePage).c_str());
}

}  // namespace

void StartSupportLog() {
    wchar_t path[kTemporaryPathChars];
    if (!PathInTemporaryFolder(L"KV_Firmware_Tool.log", path))
        return;
    // Open until the process ends: the exit question ends it with a worker perhaps still writing.
    static LogFile* const log = new LogFile(path);
    SetLogSink(log);
    LogProgramVersion();
    LogWindowsVersion();
    LogCodePages();
}
