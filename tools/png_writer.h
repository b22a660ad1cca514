// A minimal PNG writer for one-bit pictures: greyscale, bit depth 1, no interlace, the image data
// in zlib stored (uncompressed) blocks, so no compression library is needed.
#pragma once

#include <cstdint>

// Writes width x height pixels from rows of row_bytes bytes each (bit 7 of a byte is the leftmost
// pixel, 1 = white). 1 ok, 0 on any file error.
int WritePng1Bit(const char* path, const uint8_t* rows, int width, int height, int row_bytes);
