#include "app/PortDiscovery.h"

#include "app/Pages.h"
#include "app/SharedState.h"
#include "link/Clock.h"
#include "link/SetupDiDeviceList.h"
#include "link/TrackerPortScan.h"
#include "res/resource.h"

void SetConnectPagePort(const wchar_t* portName) {
    g_connectPage.SetDlgItemText(IDC_PORT_NAME, portName);
    HWND next;
    g_connectPage.GetDlgItem(IDOK, &next);
    ::EnableWindow(next, portName[0] != L'\0');
}

void SetBootPagePort(const wchar_t* portName) {
    g_bootPage.SetDlgItemText(IDC_PORT_NAME, portName);
}

void SetPowerOnPagePort(const wchar_t* portName) {
    g_powerOnPage.SetDlgItemText(IDC_PORT_NAME, portName);
}

namespace {

// A page object holds a window exactly while the page is on screen.
class OpenPageDisplays : public PortDisplays {
public:
    void ShowOnConnectPage(const wchar_t* portName) override {
        if (g_connectPage.m_hWnd != nullptr)
            SetConnectPagePort(portName);
    }
    void ShowOnBootPage(const wchar_t* portName) override {
        if (g_bootPage.m_hWnd != nullptr)
            SetBootPagePort(portName);
    }
    void ShowOnPowerOnPage(const wchar_t* portName) override {
        if (g_powerOnPage.m_hWnd != nullptr)
            SetPowerOnPagePort(portName);
    }
};

}  // namespace

void FindTrackerPort() {
    SetupDiDeviceList devices;
    OpenPageDisplays displays;
    ScanTrackerPorts(devices, g_portName, displays, SystemClock());
}
