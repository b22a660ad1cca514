// The frame renderer: screen memory through the GlyphTable into FrameBitmap, and the RenderThread.
#include "display/display.h"
#include "display/render_event.h"
#include "machine/memory.h"

#include <cstring>

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
constexpr int RowWords = ScreenColumns / 8;   // a row is five aligned 8-byte words

// A row starts 40 * k bytes into an aligned block, so its five words are 8-byte aligned. The
// ProcessorThread writes single bytes; these relaxed word loads still see each byte whole.
typedef uint64_t __attribute__((may_alias)) ScreenWord;

// The 40 bytes of a row as five words, read with relaxed atomic loads.
struct RowBytes {
    uint64_t word[RowWords];
};

inline RowBytes ReadRow(uint16_t address) {
    auto* p = reinterpret_cast<const ScreenWord*>(MachineMemory + address);
    return {{__atomic_load_n(p, __ATOMIC_RELAXED), __atomic_load_n(p + 1, __ATOMIC_RELAXED),
             __atomic_load_n(p + 2, __ATOMIC_RELAXED), __atomic_load_n(p + 3, __ATOMIC_RELAXED),
             __atomic_load_n(p + 4, __ATOMIC_RELAXED)}};
}

inline bool SameRow(const RowBytes& a, const RowBytes& b) {
    return ((a.word[0] ^ b.word[0]) | (a.word[1] ^ b.word[1]) | (a.word[2] ^ b.word[2]) |
            (a.word[3] ^ b.word[3]) | (a.word[4] ^ b.word[4])) == 0;
}

// The GlyphTable column of every cell: byte AND blink_mask, in the set chosen by the control codes
// to its left (or by itself).
inline void RowColumns(const RowBytes& row, uint32_t mask, uint16_t column[]) {
    uint32_t base = TextBase;
    for (int i = 0; i < RowWords; ++i) {
        uint64_t w = row.word[i];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            uint32_t m = uint32_t(w >> (8 * j)) & mask;
            // Without a branch: control codes in a row are as likely as not, so they mispredict.
            uint32_t control = -uint32_t(IsControlCode(uint8_t(m)));
            base = (base & ~control) | ((m & 0x10) << 4 & control);
            column[8 * i + j] = uint16_t(base + m);
        }
    }
}

// Four glyph bytes 6 bits apart in a word whose top three bytes are the group's picture bytes:
// bits 1-0 of the first three land on the next cell's first two pixels, those of the fourth fall
// below the three bytes.
inline uint32_t GroupWord(const uint8_t* plane, const uint16_t column[]) {
    return uint32_t(plane[column[0]]) << 24 | uint32_t(plane[column[1]]) << 18 |
           uint32_t(plane[column[2]]) << 12 | uint32_t(plane[column[3]]) << 6;
}

// Stores a group's three bytes. All but the last group store a whole word whose fourth byte the
// next group overwrites; the last stores three, so bytes 30 and 31 are never written.
template <bool last> inline void StoreGroup(uint32_t w, uint8_t* at) {
    if constexpr (last) {
        at[0] = uint8_t(w >> 24);
        at[1] = uint8_t(w >> 16);
        at[2] = uint8_t(w >> 8);
    } else {
        uint32_t bytes = __builtin_bswap32(w);
        std::memcpy(at, &bytes, 4);
    }
}

// Pixel row p of a text row into one line.
inline void RenderLine(const uint8_t* plane, const uint16_t column[], uint8_t* line) {
    for (int k = 0; k < CellGroups - 1; ++k)
        StoreGroup<false>(GroupWord(plane, column + 4 * k), line + 3 * k);
    StoreGroup<true>(GroupWord(plane, column + 4 * (CellGroups - 1)), line + 3 * (CellGroups - 1));
}

// Group k of a text row in all ten pixel rows, when every pixel row read the same bytes.
template <bool last>
inline void RenderGroupColumn(const uint16_t column[], int k, uint8_t (*lines)[FrameLineBytes]) {
#pragma GCC unroll 10
    for (int p = 0; p < GlyphRows; ++p)
        StoreGroup<last>(GroupWord(GlyphTable[p], column), lines[p] + 3 * k);
}

// Every pixel row reads its 40 bytes afresh and starts in the text set. All ten reads come first;
// when they agree, as they do unless the processor wrote the row meanwhile, the cell columns are
// worked out once and the row is drawn group by group; otherwise pixel row by pixel row, each from
// its own read.
void RenderRow(uint16_t address, uint32_t mask, uint8_t (*lines)[FrameLineBytes]) {
    RowBytes read[GlyphRows];
    bool same = true;
    for (int p = 0; p < GlyphRows; ++p) {
        read[p] = ReadRow(address);
        same = same && SameRow(read[p], read[0]);
    }
    uint16_t column[ScreenColumns];
    RowColumns(read[0], mask, column);
    if (same) [[likely]] {
        for (int k = 0; k < CellGroups - 1; ++k)
            RenderGroupColumn<false>(column + 4 * k, k, lines);
        RenderGroupColumn<true>(column + 4 * (CellGroups - 1), CellGroups - 1, lines);
        return;
    }
    for (int p = 0; p < GlyphRows; ++p) {
        if (p > 0 && !SameRow(read[p], read[p - 1])) RowColumns(read[p], mask, column);
        RenderLine(GlyphTable[p], column, lines[p]);
    }
}

} // namespace

void RenderFrame() {
    uint8_t mask = (frame_count & BlinkFrameBit) ? 0xFF : 0x7F;
    blink_mask = mask;
    for (int r = 0; r < ScreenRows; ++r)
        RenderRow(RowAddressTable[r], mask, &FrameBitmap[GlyphRows * r]);
}

void RenderThreadBody(RenderEvent& event, PresentHook present, void* context) {
    bool tick = true;
    while (event.Wait(&tick)) {
        RenderFrame();
        if (present) present(FrameBitmap, context);
        if (tick) ++frame_count; // a frame between ticks keeps the blink's count
    }
}
