// Recognising the tracker's USB-to-serial bridge by the friendly name Windows gives the device,
// and taking the COM port name out of it, e.g. "STMicroelectronics Virtual COM Port (COM7)".
#pragma once
#include "link/PortName.h"

// True when the name holds "STM" or "Prolific" (case as the bridge makers write them).
bool IsTrackerBridgeName(const wchar_t* friendlyName);

// The port name in the last parentheses: "COM" and a number. False, with port emptied, when
// there is none or it is longer than kMaxPortNameChars.
bool CutPortName(const wchar_t* friendlyName, wchar_t (&port)[kMaxPortNameChars + 1]);
