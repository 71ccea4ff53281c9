#include "link/TrackerPortState.h"

PortNameSlot g_portName;
HANDLE g_portHandle = INVALID_HANDLE_VALUE;
