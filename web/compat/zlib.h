// Emscripten's zlib is a port it downloads on first use, and the browser build is made offline
// from what the packages ship. Of zlib, the core this build compiles calls only the CRC-32 that
// guards saved states (the PNG writer is left out: the page writes no pictures); this stands in
// for it, with zlib's name and result. Found before any other zlib.h by the browser build alone.
#pragma once

#include <cstddef>
#include <cstdint>

using uLong = unsigned long;

inline uLong crc32_z(uLong crc, const unsigned char* data, size_t size) {
    uint32_t c = ~uint32_t(crc);
    for (size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}
