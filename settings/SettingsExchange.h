// The settings exchanges with the tracker on its command port.
#pragma once
#include <cstdint>

// Records accepted while the settings are read, commands sent while they are restored; the bar
// of the save and restore pages follows it. The two never run at once.
extern uint8_t g_recordCount;
