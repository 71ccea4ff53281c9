#include "link/TrackerPortState.h"

PortNameSlot g_portName;
