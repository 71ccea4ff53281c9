// A small stand-in for the Windows class library: the classes, members and macros that this
// program uses, with the library's own names, so that the application code reads as an
// ordinary dialog application of that library.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "afxmsg.h"

class CWnd;
class CDialog;
class CWinApp;

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;

protected:
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// Base of the library's exceptions. They are thrown as pointers and deleted by the catcher.
class CException {
public:
    virtual ~CException() = default;
    virtual BOOL GetErrorMessage(LPWSTR error, UINT maxError, PUINT helpContext = nullptr) const;
    // Shows the message in a box captioned with the program's name.
    virtual int ReportError(UINT type = MB_OK, UINT messageId = 0) const;
    void Delete() { delete this; }
};

// A file error. m_strFileName is the file's full path, or empty when it had none.
class CFileException : public CException {
public:
    enum { none = 0, genericException = 1, invalidFile = 6, diskFull = 13 };

    explicit CFileException(int cause = none, LONG osError = -1, LPCWSTR fileName = nullptr);
    BOOL GetErrorMessage(LPWSTR error, UINT maxError, PUINT helpContext = nullptr) const override;

    int m_cause;
    LONG m_lOsError;
    std::wstring m_strFileName;
};

// A null pointer or another argument that a member cannot work with.
class CInvalidArgException : public CException {
public:
    BOOL GetErrorMessage(LPWSTR error, UINT maxError, PUINT helpContext = nullptr) const override;
};

// A file on disk through its Win32 handle. Opening reports failure by its result; working on a
// file that is not open throws a CFileException.
class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeCreate = 0x1000,  // a new, empty file, replacing any there
        typeText = 0x4000,    // streams only: CR LF in the file is LF in memory
        typeBinary = 0x8000,  // streams only: bytes as they are
    };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    // On failure the file stays closed and *error, when given, says why.
    virtual BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr);
    // Up to count bytes from the current position; fewer only at the end of the file.
    virtual UINT Read(void* buffer, UINT count);
    virtual ULONGLONG GetLength() const;
    virtual void Close();

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    // The full path of the file last opened, kept after a failed open too.
    std::wstring m_strFileName;
};

// A file read and written through a C runtime stream, so that text mode translates line ends
// exactly as the runtime does. m_hFile is the stream's handle while it is open.
class CStdioFile : public CFile {
public:
    CStdioFile() = default;
    ~CStdioFile() override;

    // Text mode unless the flags hold typeBinary. Exclusive, like every open without share flags.
    BOOL Open(LPCWSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
    // Writes the text as it is, each LF as CR LF in text mode. A null text throws
    // CInvalidArgException*, a failed write CFileException* (diskFull).
    virtual void WriteString(LPCWSTR text);
    // Flushes and closes; data that cannot be written throws CFileException* (diskFull).
    void Close() override;

    FILE* m_pStream = nullptr;

protected:
    [[noreturn]] void ThrowFileException(int cause) const;
};

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetWindowText(LPCWSTR text) const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    HICON SetIcon(HICON icon, BOOL bigIcon) const;
    int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK) const;

    void GetDlgItem(int id, HWND* control) const;
    void SetDlgItemText(int id, LPCWSTR text) const;
    LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Dispatches one message through the message map. Returns TRUE when a handler took it;
    // FALSE leaves it to the default handling.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

protected:
    // Called by a handler that wants the default handling of the message it is handling.
    void Default();
    void OnPaint() { Default(); }

private:
    friend LRESULT AfxCallWndProc(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled);
    bool m_defaultRequested = false;
};

// Runs one message through wnd's message map, as the window procedure does: an exception that
// escapes a handler is reported to the user and the program goes on. *handled is FALSE when the
// message should get the default handling.
LRESULT AfxCallWndProc(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled);

// Data exchange between a dialog and its member objects.
class CDataExchange {
public:
    explicit CDataExchange(CDialog* dialog) : m_pDlgWnd(dialog) {}
    CDialog* m_pDlgWnd;
};

// Binds a control object to the dialog's control with the given id while the dialog is open.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Shows the dialog modally, owned by the application's main window, and returns the code
    // it ended with (or -1 when it could not be created).
    virtual INT_PTR DoModal();
    void EndDialog(int result);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();

protected:
    virtual void DoDataExchange(CDataExchange* dx);
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT HandleInitDialog(WPARAM, LPARAM);

    DECLARE_MESSAGE_MAP()

private:
    friend void DDX_Control(CDataExchange* dx, int id, CWnd& control);
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    std::vector<CWnd*> m_boundControls;
};

INT_PTR CALLBACK AfxDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paint context for the WM_PAINT handler.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) const { return ::DrawIcon(m_hDC, x, y, icon); }

    HDC m_hDC;

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps;
};

class CWinApp : public CCmdTarget {
public:
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;

    // Start-up. An application that returns FALSE ends when this returns.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    HICON LoadIcon(UINT id) const;

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    // The name used as the caption of the library's own message boxes: the program file's
    // name without its extension when none is given.
    LPCWSTR m_pszAppName = nullptr;

private:
    friend int AfxWinMain(HINSTANCE instance);
    wchar_t m_appNameBuffer[MAX_PATH] = {};
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resources);

// The library's entry: runs the one application object.
int AfxWinMain(HINSTANCE instance);
