#include "app/SharedState.h"

int g_job = UpgradeKeepSettings;
PortNameSlot g_portName;
wchar_t g_firmwarePath[kFirmwarePathChars] = {};
HANDLE g_portHandle = INVALID_HANDLE_VALUE;
uint64_t g_imageSize = 0;
