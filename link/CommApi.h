// The Win32 communications functions that the COM port adapter calls, behind one seam: the
// program passes the system's own, unit tests a model of the Windows serial driver on virtual
// time. Each has the meaning, the arguments and the failures of the function it is named after;
// the arguments the program never varies (security attributes, template, overlapped structure)
// are left out, and so are the functions it does not call.
#pragma once
#include <windows.h>

class CommApi {
public:
    virtual ~CommApi() = default;
    virtual HANDLE CreateFileW(const wchar_t* path,
                               DWORD access,
                               DWORD shareMode,
                               DWORD disposition,
                               DWORD flags) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    virtual BOOL ReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead) = 0;
    virtual BOOL WriteFile(HANDLE handle, const void* data, DWORD size, DWORD* bytesWritten) = 0;
    virtual DWORD GetFileType(HANDLE handle) = 0;
    virtual BOOL GetCommState(HANDLE handle, DCB* dcb) = 0;
    virtual BOOL SetCommState(HANDLE handle, DCB* dcb) = 0;
    virtual BOOL SetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status) = 0;
    virtual BOOL PurgeComm(HANDLE handle, DWORD flags) = 0;
    virtual BOOL FlushFileBuffers(HANDLE handle) = 0;
};

// The system's own functions.
CommApi& SystemCommApi();
