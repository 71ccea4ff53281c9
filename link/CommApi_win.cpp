#include "link/CommApi.h"

namespace {

class SystemComm : public CommApi {
public:
    HANDLE CreateFileW(const wchar_t* path,
                       DWORD access,
                       DWORD shareMode,
                       DWORD disposition,
                       DWORD flags) override {
        return ::CreateFileW(path, access, shareMode, nullptr, disposition, flags, nullptr);
    }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    BOOL ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead) override {
        return ::ReadFile(handle, buffer, size, bytesRead, nullptr);
    }
    BOOL WriteFile(HANDLE handle, const void* data, DWORD size, DWORD* bytesWritten) override {
        return ::WriteFile(handle, data, size, bytesWritten, nullptr);
    }
    DWORD GetFileType(HANDLE handle) override { return ::GetFileType(handle); }
    BOOL GetCommState(HANDLE handle, DCB* dcb) override { return ::GetCommState(handle, dcb); }
    BOOL SetCommState(HANDLE handle, DCB* dcb) override { return ::SetCommState(handle, dcb); }
    BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override {
        return ::SetCommTimeouts(handle, timeouts);
    }
    BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) override {
        return ::ClearCommError(handle, errors, status);
    }
    BOOL PurgeComm(HANDLE handle, DWORD flags) override { return ::PurgeComm(handle, flags); }
    BOOL FlushFileBuffers(HANDLE handle) override { return ::FlushFileBuffers(handle); }
};

}  // namespace

CommApi& SystemCommApi() {
    static SystemComm api;
    return api;
}
