#include "afxcmn.h"

CProgressCtrl::~CProgressCtrl() {
    // Only a control that is still on screen is destroyed; a bound control forgets its
    // window when its dialog ends.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}
