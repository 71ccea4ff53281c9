// The tracker's port as the program knows it: the name discovery found last, and the command
// port's handle while an exchange holds it open.
#pragma once
#include <windows.h>

#include "link/PortNameSlot.h"

// Written by port discovery on the user-interface thread and read by workers, hence the
// guarded slot; empty when no tracker is known.
extern PortNameSlot g_portName;
// The invalid handle value whenever no exchange runs.
extern HANDLE g_portHandle;
