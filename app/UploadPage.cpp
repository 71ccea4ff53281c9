#include <cstdint>

#include "app/Pages.h"
#include "app/SharedState.h"
#include "app/PageReport.h"
#include "app/PageWorkers.h"
#include "res/resource.h"

// The bar position that the next progress report sets; used on the page's thread only.
static int32_t g_progressPos = 0;

CAboutDlg5::CAboutDlg5() : CWorkPage(IDD_UPLOAD_PAGE) {}

CAboutDlg5::~CAboutDlg5() = default;

void CAboutDlg5::DoDataExchange(CDataExchange* dx) {
    CWorkPage::DoDataExchange(dx);
    DDX_Control(dx, IDC_PROGRESS, m_progress);
}

BOOL CAboutDlg5::OnInitDialog() {
    CWorkPage::OnInitDialog();
    // An image that cannot be opened throws from GetLength: the user sees why in the library's
    // error box, no upload starts, and the page can only be left by Cancel.
    g_imageSize = 0;
    CFile image;
    image.Open(g_firmwarePath, 0);
    g_imageSize += image.GetLength();
    image.Close();
    StartWorker(UploadWorker);
    return TRUE;
}

BOOL CAboutDlg5::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_UPLOAD_PROGRESS) {
        // The bar runs in whole KiB from 1; the report after the last chunk fills it.
        if (wParam == 1) {
            m_progress.SendMessage(PBM_SETRANGE32, 1,
                                   static_cast<LPARAM>(static_cast<uint32_t>(g_imageSize >> 10)));
            g_progressPos = 0;
        }
        m_progress.SendMessage(PBM_SETPOS, static_cast<WPARAM>(g_progressPos), 0);
        ++g_progressPos;
    }
    return CWorkPage::OnWndMsg(message, wParam, lParam, result);
}
