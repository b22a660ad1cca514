// Test-side models of the ABC80 screen: made-up fonts, a screen grid written into memory by the
// layout's formula, and a straightforward pixel-by-pixel reference picture to compare frames with.
#pragma once

#include "display/display.h"
#include "machine/memory.h"
#include "test_support.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace ref {

using Font = std::array<uint8_t, 2560>;
using Grid = std::array<std::array<uint8_t, 40>, 24>;      // screen bytes, row r cell c
using Picture = std::array<std::array<uint8_t, 240>, 240>; // one byte a pixel, 1 white

// A made-up font of pseudo-random glyph rows; low_bits keeps bits 1-0 as drawn, else clears them.
inline Font MakeFont(uint32_t seed, bool low_bits) {
    Font f{};
    for (uint8_t& b : f) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
        if (!low_bits) b &= 0xFC;
    }
    return f;
}

// Writes the first size bytes of the font (padded by extra bytes of 0xEE past 2,560) as font.bin in
// a scratch folder and builds the character generator from it.
inline bool InstallFont(const Font& f, size_t size = 2560) {
    ScratchFolder folder;
    std::string bytes(reinterpret_cast<const char*>(f.data()), std::min(size, f.size()));
    if (size > f.size()) bytes.append(size - f.size(), char(0xEE));
    folder.WriteFile("font.bin", bytes);
    return BuildCharacterGenerator();
}

inline uint16_t CellAddress(int r, int c) {
    static const uint16_t block[8] = {0x7C00, 0x7C80, 0x7D00, 0x7D80,
                                      0x7E00, 0x7E80, 0x7F00, 0x7F80};
    return uint16_t(block[r % 8] + 40 * (r / 8) + c);
}

inline void PutScreen(const Grid& g) {
    for (int r = 0; r < 24; ++r)
        for (int c = 0; c < 40; ++c)
            WriteByte(CellAddress(r, c), g[r][c]);
}

inline Grid FilledGrid(uint8_t value) {
    Grid g;
    for (auto& row : g)
        row.fill(value);
    return g;
}

// The picture the screen should give, worked out one pixel at a time.
inline Picture ReferencePicture(const Font& font, const Grid& g, bool inverse_phase) {
    Picture pic{};
    for (int r = 0; r < 24; ++r) {
        bool mosaic = false;
        uint8_t low_bits[40][10];
        for (int c = 0; c < 40; ++c) {
            uint8_t b = g[r][c];
            uint8_t code = b & 0x7F;
            if (code >= 0x01 && code <= 0x07) mosaic = false;
            if (code >= 0x11 && code <= 0x17) mosaic = true;
            bool plain_copy = mosaic ? code <= 32 : code < 32;
            bool invert = inverse_phase && (b & 0x80) && !plain_copy;
            for (int p = 0; p < 10; ++p) {
                uint8_t v = font[(mosaic ? 1280 : 0) + 10 * code + p];
                low_bits[c][p] = v & 3;
                for (int x = 0; x < 6; ++x) {
                    int lit = (v >> (7 - x)) & 1;
                    pic[10 * r + p][6 * c + x] = uint8_t(invert ? !lit : lit);
                }
            }
        }
        // Bits 1-0 light the next cell's first two pixels, except after cells 3, 7, ..., 39.
        for (int c = 0; c < 40; ++c) {
            if (c % 4 == 3) continue;
            for (int p = 0; p < 10; ++p) {
                pic[10 * r + p][6 * c + 6] |= (low_bits[c][p] >> 1) & 1;
                pic[10 * r + p][6 * c + 7] |= low_bits[c][p] & 1;
            }
        }
    }
    return pic;
}

// Marks the fill bytes so that a render that touches them shows up in CompareFrame.
inline void MarkFill() {
    for (auto& line : FrameBitmap)
        line[30] = line[31] = 0xA5;
}

// Empty when FrameBitmap shows the picture and the fill bytes still hold MarkFill's marks; else
// the first differences.
inline std::string CompareFrame(const Picture& pic) {
    std::ostringstream out;
    int shown = 0;
    for (int y = 0; y < 240 && shown < 5; ++y) {
        for (int x = 0; x < 240 && shown < 5; ++x) {
            int got = (FrameBitmap[y][x / 8] >> (7 - x % 8)) & 1;
            if (got != pic[y][x]) {
                out << "line " << y << " pixel " << x << " (row " << y / 10 << " cell " << x / 6
                    << "): got " << got << " want " << int(pic[y][x]) << "\n";
                ++shown;
            }
        }
        if (FrameBitmap[y][30] != 0xA5 || FrameBitmap[y][31] != 0xA5) {
            out << "line " << y << ": fill bytes written\n";
            ++shown;
        }
    }
    return out.str();
}

// Renders with frame_count set to frame and compares with the reference picture.
inline std::string RenderAndCompare(const Font& font, const Grid& g, uint32_t frame) {
    PutScreen(g);
    frame_count = frame;
    MarkFill();
    RenderFrame();
    return CompareFrame(ReferencePicture(font, g, (frame & 8) != 0));
}

} // namespace ref
