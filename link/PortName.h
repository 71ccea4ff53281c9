// The longest COM port name the program takes, such as "COM256": every buffer that holds a port
// name, and the device path built from it, is sized from this one limit.
#pragma once
#include <cstddef>

constexpr size_t kMaxPortNameChars = 9;
