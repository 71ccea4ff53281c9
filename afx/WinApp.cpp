#include "afxwin.h"

namespace {

CWinApp* g_app = nullptr;
HINSTANCE g_resourceHandle = nullptr;

}  // namespace

CWinApp::CWinApp(LPCWSTR appName) : m_pszAppName(appName) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

HICON CWinApp::LoadIcon(UINT id) const {
    return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(id));
}

CWinApp* AfxGetApp() {
    return g_app;
}

CWnd* AfxGetMainWnd() {
    return g_app != nullptr ? g_app->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle() {
    return g_app != nullptr ? g_app->m_hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() {
    return g_resourceHandle != nullptr ? g_resourceHandle : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE resources) {
    g_resourceHandle = resources;
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return -1;
    app->m_hInstance = instance;
    if (app->m_pszAppName == nullptr) {
        // The program file's name without folder and extension.
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(instance, path, MAX_PATH - 1);
        const wchar_t* name = path;
        for (const wchar_t* p = path; *p != L'\0'; ++p)
            if (*p == L'\\' || *p == L'/')
                name = p + 1;
        wchar_t* out = app->m_appNameBuffer;
        for (; *name != L'\0' && *name != L'.'; ++name)
            *out++ = *name;
        *out = L'\0';
        app->m_pszAppName = app->m_appNameBuffer;
    }
    // This library serves dialog applications only: their start-up shows the main window
    // modally and returns FALSE, so there is no message loop of the application's own.
    app->InitInstance();
    return app->ExitInstance();
}
