#pragma once
#include "afxwin.h"

enum class WizardPage;

// The program's only top-level window: a short text and the Start button that runs the wizard.
// It also keeps the tracker's port up to date, whatever page is open over it.
class CMainWindow : public CDialog {
public:
    CMainWindow();
    ~CMainWindow() override;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    BOOL OnInitDialog() override;

protected:
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnStart();
    DECLARE_MESSAGE_MAP()

    // Shows the page modally; false, after an error box, when it cannot be shown at all.
    bool ShowPage(WizardPage page);

    HICON m_icon;
    int m_devChangeCount;
};
