#include "transfer/ImageCrc.h"

uint32_t ContinueCrc32(uint32_t crc, const uint8_t* bytes, size_t count) {
    crc = ~crc;
    for (size_t at = 0; at < count; ++at) {
        crc ^= bytes[at];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
    return ~crc;
}
