#include "system/crt_look.h"

#include <algorithm>
#include <cstring>

namespace {

// The phosphor's white and the dark tube's black, as 0-255 channels.
constexpr int White[3] = {228, 236, 255};
constexpr int Black[3] = {6, 7, 9};
// The glow a black pixel gets from each lit neighbour, of 255: beside it, above or below it, and
// diagonally. A black pixel between two lit ones gets no more than MostGlow.
constexpr int GlowBeside = 54;
constexpr int GlowAbove = 30;
constexpr int GlowDiagonal = 12;
constexpr int MostGlow = 110;
// The brightness of a device row within a pixel row of fy rows, of 256: the last is the gap
// between scanlines; from five rows on, the row above it fades into it.
constexpr int GapLevel = 110;
constexpr int FadeLevel = 200;

int RowLevel(int row, int fy) {
    if (fy == 1) return 256;
    if (row == fy - 1) return GapLevel;
    if (fy >= 5 && row == fy - 2) return FadeLevel;
    return 256;
}

inline int Lit(const uint8_t* line, int x) {
    return x >= 0 && x < FramePixels ? (line[x >> 3] >> (7 - (x & 7))) & 1 : 0;
}

} // namespace

void CrtCompose(const uint8_t (*frame)[FrameLineBytes], int fx, int fy, uint32_t* out,
                size_t stride) {
    fx = std::max(1, fx);
    fy = std::max(1, fy);
    // One colour table per kind of device row (at most three kinds), by light level 0-255.
    uint32_t palette[3][256];
    int kinds[3] = {256, GapLevel, FadeLevel};
    for (int k = 0; k < 3; ++k)
        for (int v = 0; v < 256; ++v) {
            uint32_t c = 0xFF000000u;
            for (int ch = 0; ch < 3; ++ch) {
                const int on = Black[ch] + (White[ch] - Black[ch]) * v / 255;
                c |= uint32_t(Black[ch] + (on - Black[ch]) * kinds[k] / 256) << (16 - 8 * ch);
            }
            palette[k][v] = c;
        }
    auto kind_of = [](int level) { return level == 256 ? 0 : level == GapLevel ? 1 : 2; };

    static const uint8_t blank[FrameLineBytes] = {};
    uint8_t level[FramePixels];
    for (int y = 0; y < FrameLines; ++y) {
        const uint8_t* above = y > 0 ? frame[y - 1] : blank;
        const uint8_t* line = frame[y];
        const uint8_t* below = y + 1 < FrameLines ? frame[y + 1] : blank;
        for (int x = 0; x < FramePixels; ++x) {
            // Eight pixels with nothing lit in them or around them: black, at one look.
            if ((x & 7) == 0) {
                const int b = x >> 3, l = b > 0 ? b - 1 : b,
                          r = b + 1 < FramePixelBytes ? b + 1 : b;
                if ((above[l] | above[b] | above[r] | line[l] | line[b] | line[r] | below[l] |
                     below[b] | below[r]) == 0) {
                    std::memset(level + x, 0, 8);
                    x += 7;
                    continue;
                }
            }
            if (Lit(line, x)) {
                level[x] = 255;
                continue;
            }
            const int glow = GlowBeside * (Lit(line, x - 1) + Lit(line, x + 1)) +
                             GlowAbove * (Lit(above, x) + Lit(below, x)) +
                             GlowDiagonal * (Lit(above, x - 1) + Lit(above, x + 1) +
                                             Lit(below, x - 1) + Lit(below, x + 1));
            level[x] = uint8_t(std::min(glow, MostGlow));
        }
        // Each kind of device row is drawn once and copied to the other rows of its kind.
        uint32_t* drawn[3] = {nullptr, nullptr, nullptr};
        for (int r = 0; r < fy; ++r) {
            uint32_t* row = out + (size_t(y) * fy + r) * stride;
            const int k = kind_of(RowLevel(r, fy));
            if (drawn[k]) {
                std::memcpy(row, drawn[k], sizeof(uint32_t) * FramePixels * fx);
                continue;
            }
            const uint32_t* colours = palette[k];
            uint32_t* p = row;
            for (int x = 0; x < FramePixels; ++x) {
                const uint32_t c = colours[level[x]];
                for (int i = 0; i < fx; ++i)
                    *p++ = c;
            }
            drawn[k] = row;
        }
    }
}
