// Builds font.bin (2,560 bytes) from the drawn text set.
//
//   usage: lunabrik-make-font text.txt font.bin
//
// font.bin holds 128 text glyphs and then 128 mosaic glyphs, 10 bytes each, row 0 first; a row's
// six pixels are bits 7-2 (bit 7 leftmost), bits 1-0 stay 0. The text set comes from the source
// file (codes 0x00-0x1F blank). The mosaic set: codes 0x20-0x3F and 0x60-0x7F are 2 x 3 block
// graphics, 0x40-0x5F are the text set's capitals, 0x00-0x1F blank.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr int GlyphCount = 128;
constexpr int GlyphRows = 10;
constexpr int GlyphWidth = 6;
constexpr int SetSize = GlyphCount * GlyphRows;
constexpr int FirstDrawnCode = 0x20;

uint8_t FontBytes[2 * SetSize];
bool Drawn[GlyphCount];

int Fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: %s\n", file, line, what);
    return 1;
}

// A mosaic cell: bits 0/1 the top left/right block (rows 0-2), bits 2/3 the middle (rows 3-6),
// bit 4 and bit 6 the bottom left/right (rows 7-9). Each block is 3 pixels wide.
void BuildMosaicGlyph(int code, uint8_t* glyph) {
    constexpr uint8_t Left = 0xE0, Right = 0x1C;
    constexpr int BandOfRow[GlyphRows] = {0, 0, 0, 1, 1, 1, 1, 2, 2, 2};
    const int left_bit[3] = {0x01, 0x04, 0x10};
    const int right_bit[3] = {0x02, 0x08, 0x40};
    for (int r = 0; r < GlyphRows; r++) {
        int band = BandOfRow[r];
        glyph[r] =
            uint8_t(((code & left_bit[band]) ? Left : 0) | ((code & right_bit[band]) ? Right : 0));
    }
}

int ReadTextSet(const char* path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open\n", path);
        return 1;
    }
    std::string line;
    int line_number = 0;
    int code = -1; // glyph being read
    int rows = GlyphRows;
    while (std::getline(in, line)) {
        line_number++;
        bool in_glyph = code >= 0 && rows < GlyphRows;
        if (!in_glyph && (line.empty() || line[0] == '#')) continue; // comments between glyphs
        if (line[0] == ':') {
            if (rows != GlyphRows) return Fail(path, line_number, "glyph has fewer than 10 rows");
            unsigned value = 0;
            if (std::sscanf(line.c_str() + 1, "%x", &value) != 1 || value < FirstDrawnCode ||
                value >= GlyphCount)
                return Fail(path, line_number, "expected ': HEX name' with a code 20-7F");
            if (Drawn[value]) return Fail(path, line_number, "code drawn twice");
            Drawn[value] = true;
            code = int(value);
            rows = 0;
            continue;
        }
        if (!in_glyph) return Fail(path, line_number, "row outside a glyph");
        if (line.size() != GlyphWidth) return Fail(path, line_number, "a row is 6 characters");
        uint8_t bits = 0;
        for (int x = 0; x < GlyphWidth; x++) {
            if (line[x] == '#')
                bits |= uint8_t(0x80 >> x);
            else if (line[x] != '.')
                return Fail(path, line_number, "a row is made of '.' and '#'");
        }
        FontBytes[code * GlyphRows + rows++] = bits;
    }
    if (rows != GlyphRows) return Fail(path, line_number, "last glyph has fewer than 10 rows");
    for (int c = FirstDrawnCode; c < GlyphCount; c++) {
        if (!Drawn[c]) {
            char what[64];
            std::snprintf(what, sizeof what, "code %02X is not drawn", c);
            return Fail(path, line_number, what);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s text.txt font.bin\n", argv[0]);
        return 2;
    }
    if (ReadTextSet(argv[1]) != 0) return 1;
    uint8_t* mosaic = FontBytes + SetSize;
    for (int c = FirstDrawnCode; c < GlyphCount; c++) {
        if (c >= 0x40 && c < 0x60)
            std::memcpy(mosaic + c * GlyphRows, FontBytes + c * GlyphRows, GlyphRows);
        else
            BuildMosaicGlyph(c, mosaic + c * GlyphRows);
    }
    std::string temporary = std::string(argv[2]) + ".tmp";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out || std::fwrite(FontBytes, 1, sizeof FontBytes, out) != sizeof FontBytes ||
        std::fclose(out) != 0 || std::rename(temporary.c_str(), argv[2]) != 0) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
