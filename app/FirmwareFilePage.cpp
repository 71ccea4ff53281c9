#include "app/Pages.h"

#include <commdlg.h>

#include <cwchar>

#include "app/SharedState.h"
#include "app/PageReport.h"
#include "log/SupportLog.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CFirmwareFilePage, CWizardPage)
ON_BN_CLICKED(IDOK, OnOK)
ON_BN_CLICKED(IDCANCEL, ConfirmExit)
ON_BN_CLICKED(IDC_CHOOSE_FILE, OnChooseFile)
END_MESSAGE_MAP()

CFirmwareFilePage::CFirmwareFilePage() : CWizardPage(IDD_FIRMWARE_FILE_PAGE) {}

void CFirmwareFilePage::OnChooseFile() {
    // The dialog fills a buffer of its own: a cancelled or failed choice must leave the file
    // chosen before, which the edit box still shows and Next still offers, in place.
    wchar_t chosenPath[kFirmwarePathChars] = {};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = m_hWnd;
    dialog.lpstrFilter = L"Firmware Files (*.dfu)\0*.dfu\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = chosenPath;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = L"Open a firmware file for KV718";
    // The program's working folder stays where it was, whatever folder the user browses to.
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&dialog))
        return;
    // An empty image (a download cut short) would go to the tracker as a firmware of nothing.
    WIN32_FILE_ATTRIBUTE_DATA chosen;
    if (::GetFileAttributesExW(chosenPath, GetFileExInfoStandard, &chosen) && chosen.nFileSizeHigh == 0 &&
        chosen.nFileSizeLow == 0) {
        LogLine("firmware file %s refused: empty", Utf8(chosenPath).c_str());
        ShowFailureBox(m_hWnd, Failure::kEmptyFirmware);
        return;
    }
    LogLine("firmware file chosen: %s", Utf8(chosenPath).c_str());

    std::wmemcpy(g_firmwarePath, chosenPath, kFirmwarePathChars);
    SetDlgItemText(IDC_FIRMWARE_PATH, g_firmwarePath);
    HWND next;
    GetDlgItem(IDOK, &next);
    ::EnableWindow(next, TRUE);
}
