#include "app/FirmwareToolApp.h"

#include <commctrl.h>

#include "app/MainWindow.h"
#include "app/ResourceLibraryPath.h"
#include "app/StartLog.h"
#include "log/SupportLog.h"

BEGIN_MESSAGE_MAP(CFirmwareToolApp, CWinApp)
END_MESSAGE_MAP()

CFirmwareToolApp::CFirmwareToolApp() = default;

CFirmwareToolApp::~CFirmwareToolApp() = default;

namespace {

// The optional chinese.dll beside the program replaces its dialogs and icon. It is mapped as
// resources only: a file of that name dropped beside the program (a downloads folder) must not
// run its code in the program. A program path that was cut short, or whose folder leaves no
// room for the library's name, loads none.
HMODULE LoadResourceLibrary() {
    wchar_t modulePath[kModulePathChars] = {};
    const DWORD length = ::GetModuleFileNameW(::GetModuleHandleW(nullptr), modulePath, kModulePathChars);
    if (length == 0 || length >= kModulePathChars)
        return nullptr;
    wchar_t libraryPath[kModulePathChars];
    if (!ResourceLibraryPath(modulePath, libraryPath))
        return nullptr;
    return ::LoadLibraryExW(libraryPath, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

}  // namespace

BOOL CFirmwareToolApp::InitInstance() {
    StartSupportLog();
    HMODULE resources = LoadResourceLibrary();
    LogLine("resource library chinese.dll: %s", resources != nullptr ? "loaded" : "none");
    if (resources != nullptr)
        AfxSetResourceHandle(resources);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();

    CMainWindow mainWindow;
    m_pMainWnd = &mainWindow;
    mainWindow.DoModal();
    m_pMainWnd = nullptr;
    LogLine("main window closed: the program ends");

    if (resources != nullptr) {
        AfxSetResourceHandle(nullptr);
        ::FreeLibrary(resources);
    }
    return FALSE;
}
