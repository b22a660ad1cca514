// The ABC80 screen: 24 rows of 40 cells of 6 x 10 pixels, shown as a 240 x 240 one-bit picture.
//
// Screen memory 0x7C00-0x7FFF is eight blocks of 128 bytes; each block holds three 40-byte rows at
// offsets 0, 40 and 80 and its last 8 bytes are never shown. Row r starts at
// 0x7C00 + 128 * (r mod 8) + 40 * (r div 8). A screen byte's bits 0-6 are the character code and
// bit 7 the blink attribute. A byte whose bits 0-2 are not all zero and bits 3, 5 and 6 all zero is
// a control code: bit 4 set selects the mosaic set, clear the text set, from that cell to the end
// of the row; each row starts in the text set.
//
// font.bin: 128 text glyphs then 128 mosaic glyphs, 10 bytes each (row 0 first), pixels in bits
// 7-2 (bit 7 leftmost), 1 = lit.
#pragma once

#include <cstdint>

constexpr int ScreenRows = 24;
constexpr int ScreenColumns = 40;
constexpr int GlyphRows = 10;
constexpr int FontFileSize = 2560;
constexpr int GlyphColumns = 512; // text, inverse text, mosaic, inverse mosaic
constexpr int FrameLines = 240;
constexpr int FrameLineBytes = 32; // 30 bytes of pixels, 2 of fill never written
constexpr int FramePixelBytes = 30;

extern uint8_t FontImage[FontFileSize];
extern uint8_t GlyphTable[GlyphRows][GlyphColumns];
extern const uint16_t RowAddressTable[ScreenRows];
extern uint8_t FrameBitmap[FrameLines][FrameLineBytes]; // 1 white, 0 black; line 0 at the top
extern uint32_t frame_count;                             // frames drawn; RenderThread only
extern uint8_t blink_mask;                               // 0xFF in frames 8-15 of 16, else 0x7F

// Reads font.bin from the working directory and builds the GlyphTable. 1 ok, 0 when the file
// cannot be opened.
int BuildCharacterGenerator();

// Renders screen memory into FrameBitmap with blink_mask taken from frame_count (does not raise
// frame_count).
void RenderFrame();
