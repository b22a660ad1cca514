// The CRT look: the picture as the ABC80's monitor of 1978 showed it. Each pixel row of the
// machine is a scanline with a darker gap below it, lit pixels glow a little into the dark ones
// beside them, and white is the slightly blue white of the tube's phosphor. The pixels themselves
// keep their hard edges at every whole scale: the glow only lights black pixels, the gap only
// dims the last device rows of each pixel row.
//
// The window draws it only when a frame changes, at most 50 times a second; BM_CrtCompose in
// bench/ measures one picture at the scales a window shows.
#pragma once

#include "display/display.h"

#include <cstddef>
#include <cstdint>

// Draws frame (FrameBitmap lines, 1 white) at fx device pixels across and fy down per pixel into
// out: FrameLines * fy rows of FramePixels * fx pixels, 0xFFRRGGBB, row r at out + r * stride.
// fx and fy are 1 or more; at fy = 1 there is no room for a gap and the rows are drawn whole.
void CrtCompose(const uint8_t (*frame)[FrameLineBytes], int fx, int fy, uint32_t* out,
                size_t stride);
