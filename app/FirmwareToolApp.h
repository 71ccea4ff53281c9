#pragma once
#include "afxwin.h"

class CFirmwareToolApp : public CWinApp {
public:
    CFirmwareToolApp();
    ~CFirmwareToolApp() override;
    // Shows the main window and returns FALSE, so the program ends when that window closes.
    BOOL InitInstance() override;
    DECLARE_MESSAGE_MAP()
};
