#include "app/Pages.h"
#include "app/SharedState.h"
#include "app/PageReport.h"
#include "app/PageWorkers.h"
#include "log/SupportLog.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CUploadPage, CBarPage)
ON_MESSAGE(WM_WORK_ENDED, OnUploadEnded)
END_MESSAGE_MAP()

CUploadPage::CUploadPage() : CBarPage(IDD_UPLOAD_PAGE) {}

BOOL CUploadPage::OnInitDialog() {
    CBarPage::OnInitDialog();
    // An image that cannot be opened throws from GetLength: the user sees why in the library's
    // error box, no upload starts, and the page can only be left by Cancel. The image stays open
    // for the page alone while the upload reads it: nobody can change it under the transfer.
    CFileException openError;
    if (m_imageFile.Open(g_firmwarePath, 0, &openError))
        LogLine("firmware image %s opened", Utf8(g_firmwarePath).c_str());
    else
        LogLine("firmware image %s would not open; Windows error %ld", Utf8(g_firmwarePath).c_str(),
                openError.m_lOsError);
    m_image = {m_imageFile.m_hFile, m_imageFile.m_strFileName.c_str(), m_imageFile.GetLength()};
    StartWorker(UploadWorker);
    return TRUE;
}

// The work no longer reads the image: it is the user's again, whether the wizard goes on or the
// exit question shows.
LRESULT CUploadPage::OnUploadEnded(WPARAM outcome, LPARAM lParam) {
    m_imageFile.Close();
    return OnWorkEnded(outcome, lParam);
}
