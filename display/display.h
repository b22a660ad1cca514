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
// 7-2 (bit 7 leftmost), 1 = lit. Bits 1-0 are copied through unchanged and light the first two
// pixels of the next cell (except across a group of four cells).
//
// GlyphTable[p][column] is pixel row p of a glyph: columns 0-127 text, 128-255 the text glyphs'
// inverse copies (XOR 0xFC; plain copies for 0-31), 256-383 mosaic, 384-511 the mosaic glyphs'
// inverse copies (plain copies for 0-32). A screen byte b in a set starting at column B (0 or 256)
// is drawn from column B + b, so bit 7 picks the inverse copy.
//
// Threads: BuildCharacterGenerator runs once before any frame. RenderFrame, frame_count,
// blink_mask and FrameBitmap belong to the RenderThread (or to a single-threaded caller); the
// renderer reads screen memory through ReadMemoryShared while the processor writes it, so a frame
// may catch a row mid-update; the next frame is whole.
#pragma once

#include <cstdint>
#include <string>

constexpr int ScreenRows = 24;
constexpr int ScreenColumns = 40;
constexpr int GlyphRows = 10;
constexpr int GlyphSetSize = 128;   // glyphs per set
constexpr int GlyphSetBytes = 1280; // bytes of one set in font.bin
constexpr int FontFileSize = 2560;
constexpr int GlyphColumns = 512; // text, inverse text, mosaic, inverse mosaic
constexpr int TextBase = 0;       // first GlyphTable column of the text set
constexpr int MosaicBase = 256;   // first GlyphTable column of the mosaic set
constexpr uint8_t InverseBits = 0xFC;
constexpr int FrameLines = 240;
constexpr int FramePixels = 240;   // pixels per line
constexpr int FrameLineBytes = 32; // 30 bytes of pixels, 2 of fill never written
constexpr int FramePixelBytes = 30;
constexpr int BlinkFrameBit = 0x08; // frame_count bit: set = blinking bytes shown inverse

extern uint8_t FontImage[FontFileSize];             // font.bin as read; zeros past its end
extern uint8_t GlyphTable[GlyphRows][GlyphColumns]; // expanded glyphs, see above
extern uint32_t glyph_generation; // raised whenever BuildCharacterGenerator fills GlyphTable
extern const uint16_t RowAddressTable[ScreenRows];      // first screen byte of each text row
extern uint8_t FrameBitmap[FrameLines][FrameLineBytes]; // 1 white, 0 black; line 0 at the top
extern uint32_t frame_count;                            // frames drawn; RenderThread only
extern uint8_t blink_mask;                              // 0xFF in frames 8-15 of 16, else 0x7F

// Reads font.bin from the working directory and builds the GlyphTable. False when the file
// cannot be opened (missing, unreadable or not a plain file); the tables are then left as they
// were. A short file or a read error leaves the rest of FontImage zero; bytes past 2,560 are not
// read.
bool BuildCharacterGenerator();

// True for the bytes that switch the glyph set (0x01-0x07, 0x11-0x17, and the same with bit 7).
inline bool IsControlCode(uint8_t m) { return (m & 0x07) != 0 && (m & 0x68) == 0; }

// Renders screen memory into FrameBitmap with blink_mask taken from frame_count (does not raise
// frame_count). Bytes 30-31 of each line are never written.
void RenderFrame();

// Receives each finished frame on the RenderThread; it must copy what it needs before returning.
using PresentHook = void (*)(const uint8_t (*bitmap)[FrameLineBytes], void* context);

class RenderEvent;

// The RenderThread: waits for the event, renders a frame, hands it to present (when not null),
// raises frame_count; returns once the event is closed. The front end starts and joins the thread.
void RenderThreadBody(RenderEvent& event, PresentHook present, void* context);

// The 24 x 40 screen as text in row order, bit 7 of each byte stripped, each row zero-ended after
// its 40 bytes (a code 0x00 inside a row is kept as it is).
void ReadScreenText(char text[ScreenRows][ScreenColumns + 1]);

// The 24 rows as UTF-8, trailing blanks dropped, each row ended by a newline: text cells as their
// characters (Swedish letters as themselves), mosaic cells as Unicode sextants. Each row starts in
// the text set; a set-switching control code changes the set for the rest of its row.
std::string ScreenAsText();
// The cells of rows top-bottom and columns left-right (inclusive, clamped to the screen) in the
// same form, trailing blanks of each row dropped, a newline between rows (none after the last).
std::string ScreenTextRect(int top, int left, int bottom, int right);
// Row r's cells left-right of a screen ReadScreenText read, in the same form.
std::string ScreenRowText(const char (&text)[ScreenRows][ScreenColumns + 1], int r, int left,
                          int right);
