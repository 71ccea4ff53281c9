// The tracker's port as the program knows it: the name discovery found last.
#pragma once
#include "link/PortNameSlot.h"

// Written by port discovery on the user-interface thread and read by workers, hence the
// guarded slot; empty when no tracker is known.
extern PortNameSlot g_portName;
