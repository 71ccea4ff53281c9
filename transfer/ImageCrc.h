// The image's CRC-32, so that a support person can tell from the log which firmware was sent.
#pragma once
#include <cstddef>
#include <cstdint>

// The CRC-32 of zip and Ethernet (reflected polynomial 0xEDB88320), continued over the next bytes
// from crc, the value so far (0 to begin).
uint32_t ContinueCrc32(uint32_t crc, const uint8_t* bytes, size_t count);
