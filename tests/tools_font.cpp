// The drawn font.bin: layout, the text set's shapes as a whole, and the mosaic blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

constexpr int Rows = 10;
constexpr int MosaicOffset = 1280;

std::string ReadFont() {
    std::ifstream in(LUNABRIK_FONT, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint8_t Row(const std::string& font, int set_offset, int code, int row) {
    return uint8_t(font[size_t(set_offset + code * Rows + row)]);
}

bool AnyLitInRows(const std::string& font, int code, int first, int last) {
    for (int r = first; r <= last; r++)
        if (Row(font, 0, code, r)) return true;
    return false;
}

TEST(FontFile, LayoutAndUnusedBits) {
    std::string font = ReadFont();
    ASSERT_EQ(font.size(), 2560u);
    for (size_t i = 0; i < font.size(); i++)
        EXPECT_EQ(font[i] & 0x03, 0) << "byte " << i;
    for (int c = 0; c < 0x20; c++) {
        for (int r = 0; r < Rows; r++) {
            EXPECT_EQ(Row(font, 0, c, r), 0) << "text code " << c;
            EXPECT_EQ(Row(font, MosaicOffset, c, r), 0) << "mosaic code " << c;
        }
    }
    for (int r = 0; r < Rows; r++) {
        EXPECT_EQ(Row(font, 0, 0x20, r), 0) << "space";
        EXPECT_EQ(Row(font, 0, 0x7F, r), 0xFC) << "full block";
    }
}

// Every printable code has a glyph of its own: a copy-paste slip would show as two equal glyphs.
TEST(FontFile, PrintableGlyphsAreDistinct) {
    std::string font = ReadFont();
    ASSERT_EQ(font.size(), 2560u);
    std::set<std::string> seen;
    for (int c = 0x21; c <= 0x7F; c++) {
        std::string glyph = font.substr(size_t(c * Rows), Rows);
        EXPECT_NE(glyph, std::string(Rows, '\0')) << "code " << std::hex << c << " is blank";
        EXPECT_TRUE(seen.insert(glyph).second) << "code " << std::hex << c << " repeats a glyph";
    }
}

// Letters sit on one baseline: capitals in rows 1-7 (accented ones reach row 0), nothing below
// row 7 except the descenders.
TEST(FontFile, LettersShareBaselineAndDescenders) {
    std::string font = ReadFont();
    ASSERT_EQ(font.size(), 2560u);
    const std::string descenders = "gjpqy";
    for (int c = 'A'; c <= 'Z'; c++) {
        EXPECT_FALSE(AnyLitInRows(font, c, 0, 0)) << char(c);
        EXPECT_TRUE(AnyLitInRows(font, c, 7, 7)) << char(c);
        EXPECT_FALSE(AnyLitInRows(font, c, 8, 9)) << char(c);
    }
    for (int c = 'a'; c <= 'z'; c++) {
        bool descends = descenders.find(char(c)) != std::string::npos;
        EXPECT_EQ(AnyLitInRows(font, c, 8, 9), descends) << char(c);
        EXPECT_TRUE(AnyLitInRows(font, c, 3, 3)) << char(c) << " reaches the x-height";
    }
    for (int c : {0x40, 0x5B, 0x5C, 0x5D, 0x5E}) { // É Ä Ö Å Ü: accent on top
        EXPECT_TRUE(AnyLitInRows(font, c, 0, 0)) << std::hex << c;
        EXPECT_FALSE(AnyLitInRows(font, c, 8, 9)) << std::hex << c;
    }
}

// Mosaic cells: bit 0/1 top left/right, 2/3 middle, 4/6 bottom; each block 3 pixels wide; rows
// 0-2, 3-6 and 7-9. Codes 0x40-0x5F repeat the text capitals.
TEST(FontFile, MosaicSet) {
    std::string font = ReadFont();
    ASSERT_EQ(font.size(), 2560u);
    struct Case {
        int code;
        uint8_t top, middle, bottom;
    };
    const Case cases[] = {
        {0x20, 0x00, 0x00, 0x00}, {0x21, 0xE0, 0x00, 0x00}, {0x22, 0x1C, 0x00, 0x00},
        {0x24, 0x00, 0xE0, 0x00}, {0x28, 0x00, 0x1C, 0x00}, {0x30, 0x00, 0x00, 0xE0},
        {0x60, 0x00, 0x00, 0x1C}, {0x35, 0xE0, 0xE0, 0xE0}, {0x6A, 0x1C, 0x1C, 0x1C},
        {0x7F, 0xFC, 0xFC, 0xFC}, {0x3F, 0xFC, 0xFC, 0xE0}, {0x63, 0xFC, 0x00, 0x1C},
    };
    for (const Case& k : cases) {
        for (int r = 0; r < Rows; r++) {
            uint8_t want = r < 3 ? k.top : r < 7 ? k.middle : k.bottom;
            EXPECT_EQ(Row(font, MosaicOffset, k.code, r), want)
                << "mosaic " << std::hex << k.code << " row " << r;
        }
    }
    for (int c = 0x40; c < 0x60; c++)
        for (int r = 0; r < Rows; r++)
            EXPECT_EQ(Row(font, MosaicOffset, c, r), Row(font, 0, c, r)) << std::hex << c;
}

} // namespace
