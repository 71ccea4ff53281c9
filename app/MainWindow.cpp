#include "app/MainWindow.h"

#include <dbt.h>

#include <algorithm>

#include "app/Pages.h"
#include "app/PortDiscovery.h"
#include "app/SharedState.h"
#include "app/WizardFlow.h"
#include "app/PageReport.h"
#include "log/SupportLog.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CMainWindow, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_START, OnStart)
END_MESSAGE_MAP()

CMainWindow::CMainWindow()
    : CDialog(IDD_MAIN_WINDOW), m_icon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)), m_devChangeCount(0) {}

CMainWindow::~CMainWindow() = default;

BOOL CMainWindow::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_icon, TRUE);
    SetIcon(m_icon, FALSE);
    FindTrackerPort();
    SetWindowText(L"KV-718 Firmware Tool(1406062)");
    g_job = UpgradeKeepSettings;
    return TRUE;
}

BOOL CMainWindow::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED) {
        if (CountDeviceChange(m_devChangeCount))
            FindTrackerPort();
    } else if (message == WM_RESCAN_PORTS) {
        FindTrackerPort();
    }
    return CDialog::OnWndMsg(message, wParam, lParam, result);
}

void CMainWindow::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_icon);
}

HCURSOR CMainWindow::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_icon);
}

void CMainWindow::OnStart() {
    // The job page sets the job; the rest of the pass follows from it. How a page ended is not
    // looked at: a failed step ends the whole program or is let pass by the user. A page that
    // cannot be shown at all (its template missing from a resource library) ends the pass, so
    // that no finish page reports work that was never done.
    if (!ShowPage(WizardPage::Job))
        return;
    const std::vector<WizardPage> pages = PagesAfterJobPage(g_job);
    if (!std::all_of(pages.begin(), pages.end(), [this](WizardPage page) { return ShowPage(page); }))
        return;
    Sleep(100);
}

bool CMainWindow::ShowPage(WizardPage page) {
    const int number = static_cast<int>(page);
    LogLine("page %d entered", number);
    const INT_PTR ended = PageObject(page).DoModal();
    if (ended != -1) {
        LogLine("page %d ended: %s", number, ended == IDOK ? "next" : "closed");
        return true;
    }
    LogLine("page %d could not be shown; Windows error %lu", number, ::GetLastError());
    ShowFailureBox(m_hWnd, Failure::kPageNotShown);
    return false;
}
