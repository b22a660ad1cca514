// An animated GIF of frames, for sharing a replayed session: two colours (black and white), every
// ABC80 pixel drawn as scale x scale pixels, played once round and again for ever. Frames come one
// a tick; a frame like the one before only makes that one stay longer, so a still screen costs
// nothing. The file is built in memory and written at the end through a temporary file renamed
// over the target, so a failed write never leaves a partial file.
#pragma once

#include "display/display.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int GifTickCentiseconds = 2; // one 50 Hz tick

struct GifAnimation {
    int scale = 2;
    std::vector<uint8_t> last;                // the frame waiting for its time to be known
    uint32_t last_ticks = 0;                  // how many ticks it has stood so far
    std::vector<std::vector<uint8_t>> frames; // the frames written, as packed lines
    std::vector<uint32_t> ticks;              // and how many ticks each stands
};

// A frame shown for one tick (FrameBitmap layout).
void GifAddFrame(GifAnimation& gif, const uint8_t (*frame)[FrameLineBytes]);
// Writes the animation to path; false with error saying why.
bool GifWrite(GifAnimation& gif, const char* path, std::string& error);
