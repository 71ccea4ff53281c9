#include "settings/SettingsExchange.h"

uint8_t g_recordCount = 0;
