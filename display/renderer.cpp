// The frame renderer: screen memory through the GlyphTable into FrameBitmap, and the RenderThread.
#include "display/display.h"
#include "display/render_event.h"
#include "machine/memory.h"

#define ROW_ADDRESS(r) uint16_t(ScreenMemoryAddress + 128 * ((r) % 8) + 40 * ((r) / 8))

// Eight blocks of 128 bytes, three rows in each: consecutive rows are 128 bytes apart.
const uint16_t RowAddressTable[ScreenRows] = {
    ROW_ADDRESS(0),  ROW_ADDRESS(1),  ROW_ADDRESS(2),  ROW_ADDRESS(3),  ROW_ADDRESS(4),
    ROW_ADDRESS(5),  ROW_ADDRESS(6),  ROW_ADDRESS(7),  ROW_ADDRESS(8),  ROW_ADDRESS(9),
    ROW_ADDRESS(10), ROW_ADDRESS(11), ROW_ADDRESS(12), ROW_ADDRESS(13), ROW_ADDRESS(14),
    ROW_ADDRESS(15), ROW_ADDRESS(16), ROW_ADDRESS(17), ROW_ADDRESS(18), ROW_ADDRESS(19),
    ROW_ADDRESS(20), ROW_ADDRESS(21), ROW_ADDRESS(22), ROW_ADDRESS(23),
};

#undef ROW_ADDRESS

alignas(64) uint8_t FrameBitmap[FrameLines][FrameLineBytes];
uint32_t frame_count;
uint8_t blink_mask = 0x7F;

namespace {

constexpr int CellGroups = ScreenColumns / 4; // four 6-pixel cells fill three bytes

// One glyph byte of the cell at address, switching the set first when the byte is a control code.
inline uint32_t CellGlyph(const uint8_t* plane, uint16_t address, uint32_t mask, uint32_t& base) {
    uint32_t m = ReadMemoryShared(address) & mask;
    if (IsControlCode(uint8_t(m))) base = (m & 0x10) ? MosaicBase : TextBase;
    return plane[base + m];
}

// One pixel row p of the text row at address. Every pixel row reads its 40 bytes afresh and starts
// in the text set. Four glyph bytes go into a 32-bit word 6 bits apart, so bits 1-0 of the first
// three land on the next cell's first two pixels and those of the fourth fall off the end.
void RenderLine(uint16_t address, int p, uint32_t mask, uint8_t* line) {
    const uint8_t* plane = GlyphTable[p];
    uint32_t base = TextBase;
    for (int k = 0; k < CellGroups; ++k, address += 4, line += 3) {
        uint32_t g0 = CellGlyph(plane, address, mask, base);
        uint32_t g1 = CellGlyph(plane, uint16_t(address + 1), mask, base);
        uint32_t g2 = CellGlyph(plane, uint16_t(address + 2), mask, base);
        uint32_t g3 = CellGlyph(plane, uint16_t(address + 3), mask, base);
        uint32_t w = g0 << 24 | g1 << 18 | g2 << 12 | g3 << 6;
        line[0] = uint8_t(w >> 24);
        line[1] = uint8_t(w >> 16);
        line[2] = uint8_t(w >> 8);
    }
}

} // namespace

void RenderFrame() {
    uint8_t mask = (frame_count & BlinkFrameBit) ? 0xFF : 0x7F;
    blink_mask = mask;
    for (int r = 0; r < ScreenRows; ++r)
        for (int p = 0; p < GlyphRows; ++p)
            RenderLine(RowAddressTable[r], p, mask, FrameBitmap[GlyphRows * r + p]);
}

void RenderThreadBody(RenderEvent& event, PresentHook present, void* context) {
    while (event.Wait()) {
        RenderFrame();
        if (present) present(FrameBitmap, context);
        ++frame_count;
    }
}
