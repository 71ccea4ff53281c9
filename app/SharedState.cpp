#include "app/SharedState.h"

int g_job = UpgradeKeepSettings;
wchar_t g_firmwarePath[kFirmwarePathChars] = {};
