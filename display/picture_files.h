// The picture as files: PBM and PNG. Both are written to a temporary file beside the target and
// renamed over it, so a failed write (full disk, no permission) never leaves a partial file.
#pragma once

#include "display/display.h"

#include <cstdint>

// Writes a frame (FrameBitmap unless given) as a binary PBM (P4, 240 x 240, 1 = black). False on
// any file error.
bool WriteFramePbm(const char* path, const uint8_t (*frame)[FrameLineBytes] = FrameBitmap);

// Writes a frame (FrameBitmap unless given) as a one-bit greyscale PNG. False on any file error.
bool WriteFramePng(const char* path, const uint8_t (*frame)[FrameLineBytes] = FrameBitmap);

// Writes width x height pixels from rows of row_bytes bytes each (bit 7 of a byte is the leftmost
// pixel, 1 = white) as a one-bit greyscale PNG, its image data compressed. False on any file
// error.
bool WritePng1Bit(const char* path, const uint8_t* rows, int width, int height, int row_bytes);
