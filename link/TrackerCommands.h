// The two one-byte exchanges that move the tracker between its modes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/Clock.h"
#include "link/CommandPort.h"

// Both exchanges, and the wait for the tracker's port after a reset, give up after this long.
constexpr uint32_t kTrackerWaitLimitMs = 40000;
// A port that will not open is tried again after this pause, so that the wait leaves the
// processor to the rest of the PC.
constexpr uint32_t kReopenPauseMs = 100;

// Sends "1" until the tracker's boot loader answers with a text that contains "abort". True
// when it did within the limit. The port is closed on return.
bool WaitForBootLoader(CommandPort& port, Clock& clock);

// Writes the reset command "2" once the port opens. True when it went out within the limit.
// queryWindowsVersion tells whether the system's version could be read; without it the reset
// is not tried. The port is closed on return.
bool SendResetCommand(CommandPort& port, Clock& clock, const std::function<bool()>& queryWindowsVersion);

// Whether an answer read in one piece is the boot loader's: "abort", case-sensitive, in the
// bytes up to the first zero byte.
bool IsBootLoaderAnswer(const uint8_t* bytes, size_t count);
