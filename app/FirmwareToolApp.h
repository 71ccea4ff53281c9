#pragma once
#include "afxwin.h"

class CKV718_Firmware_ToolApp : public CWinApp {
public:
    CKV718_Firmware_ToolApp();
    ~CKV718_Firmware_ToolApp() override;
    // Shows the main window and returns FALSE, so the program ends when that window closes.
    BOOL InitInstance() override;
    DECLARE_MESSAGE_MAP()
};
