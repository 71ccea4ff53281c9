#include "app/Pages.h"
#include "app/SharedState.h"
#include "app/WizardFlow.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CFinishPage, CWizardPage)
ON_BN_CLICKED(IDOK, OnFinish)
END_MESSAGE_MAP()

CFinishPage::CFinishPage() : CWizardPage(IDD_FINISH_PAGE) {}

BOOL CFinishPage::OnInitDialog() {
    CWizardPage::OnInitDialog();
    const FinishText text = FinishTextFor(g_job);
    const struct {
        int id;
        bool visible;
    } kTexts[] = {
        {IDC_FINISH_DEFAULT_TEXT, text == FinishText::Default},
        {IDC_FINISH_FIRMWARE_TEXT, text == FinishText::FirmwareUpdated},
        {IDC_FINISH_SETTINGS_TEXT, text == FinishText::SettingsRestored},
    };
    for (const auto& item : kTexts) {
        HWND control;
        GetDlgItem(item.id, &control);
        ::ShowWindow(control, item.visible ? SW_SHOW : SW_HIDE);
    }
    return TRUE;
}
