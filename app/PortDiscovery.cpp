#include "app/PortDiscovery.h"

#include "app/Pages.h"
#include "app/SharedState.h"
#include "link/Clock.h"
#include "link/SetupDiDeviceList.h"
#include "link/TrackerPortState.h"
#include "link/TrackerPortScan.h"
#include "res/resource.h"

void SetConnectPagePort(const wchar_t* portName) {
    g_connectPage.SetDlgItemText(IDC_PORT_NAME, portName);
    HWND next;
    g_connectPage.GetDlgItem(IDOK, &next);
    ::EnableWindow(next, portName[0] != L'\0');
}

void SetBootLoaderPagePort(const wchar_t* portName) {
    g_bootLoaderPage.SetDlgItemText(IDC_PORT_NAME, portName);
}

void SetRestartPagePort(const wchar_t* portName) {
    g_restartPage.SetDlgItemText(IDC_PORT_NAME, portName);
}

namespace {

// The connect, boot-loader and restart pages show the port; a page object holds a window
// exactly while the page is on screen.
class OpenPageDisplay : public PortDisplay {
public:
    void Show(const wchar_t* portName) override {
        if (g_bootLoaderPage.m_hWnd != nullptr)
            SetBootLoaderPagePort(portName);
        if (g_connectPage.m_hWnd != nullptr)
            SetConnectPagePort(portName);
        if (g_restartPage.m_hWnd != nullptr)
            SetRestartPagePort(portName);
    }
};

}  // namespace

void FindTrackerPort() {
    SetupDiDeviceList devices;
    OpenPageDisplay display;
    ScanTrackerPorts(devices, g_portName, display, SystemClock());
}
