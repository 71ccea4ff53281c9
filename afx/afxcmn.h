// Common controls of the class-library stand-in.
#pragma once
#include "afxwin.h"

#include <commctrl.h>

class CProgressCtrl : public CWnd {
public:
    ~CProgressCtrl() override;
};
