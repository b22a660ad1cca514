// Screen memory into FrameBitmap: row layout, control codes, blinking, packing, and the dumps.
#include "display_reference.h"

#include "display/picture_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Renderer : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        font = ref::MakeFont(1234, false);
        for (int p = 0; p < 10; ++p)
            font[10 * 0x20 + p] = 0; // blank text space
        ASSERT_TRUE(ref::InstallFont(font));
    }
    // The six pixels of cell c in pixel row p of text row r, bit 5 leftmost.
    static int CellPixels(int r, int p, int c) {
        int bits = 0;
        for (int x = 6 * c; x < 6 * c + 6; ++x)
            bits = bits << 1 | ((FrameBitmap[10 * r + p][x / 8] >> (7 - x % 8)) & 1);
        return bits;
    }
    // The six pixels of a glyph row as stored in the font, bit 5 leftmost.
    int FontPixels(bool mosaic, int code, int p) const {
        return font[1280 * mosaic + 10 * code + p] >> 2;
    }
    ref::Font font;
};

TEST_F(Renderer, BlankScreenIsBlack) {
    for (uint32_t frame : {0u, 8u}) {
        ref::Grid g = ref::FilledGrid(0x20);
        std::memset(FrameBitmap, 0xFF, sizeof FrameBitmap);
        ref::MarkFill();
        frame_count = frame;
        ref::PutScreen(g);
        RenderFrame();
        for (int y = 0; y < 240; ++y)
            for (int i = 0; i < 30; ++i)
                ASSERT_EQ(FrameBitmap[y][i], 0) << y << " " << i;
        EXPECT_EQ(ref::CompareFrame(ref::ReferencePicture(font, g, frame & 8)), "");
    }
}

// 0xA0 over a blank space is lit in frames 8-15 of every 16 and dark in the others.
TEST_F(Renderer, BlinkingSpaceInFramesEightToFifteen) {
    ref::Grid g = ref::FilledGrid(0x20);
    g[0][0] = 0xA0;
    for (uint32_t frame : {0u, 7u, 8u, 15u, 16u, 23u, 24u, 31u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
        bool lit = (frame % 16) >= 8;
        EXPECT_EQ(ref::RenderAndCompare(font, g, frame), "") << frame;
        EXPECT_EQ(blink_mask, lit ? 0xFF : 0x7F) << frame;
        for (int p = 0; p < 10; ++p) {
            EXPECT_EQ(CellPixels(0, p, 0), lit ? 0x3F : 0) << frame;
            EXPECT_EQ(CellPixels(0, p, 1), 0) << frame;
        }
        EXPECT_EQ(frame_count, frame) << "RenderFrame leaves the count alone";
    }
}

// Control codes switch the set from their own cell to the end of the row; the next row starts in
// the text set. Checked against explicit glyphs and against the reference in both phases.
TEST_F(Renderer, ControlCodesSwitchTheSetForTheRestOfTheRow) {
    ref::Grid g = ref::FilledGrid(0x20);
    g[0][0] = 0x11;
    g[0][1] = 0x41;
    g[1][0] = 0x41;
    g[2][0] = 0x97;
    g[2][1] = 0xC1;
    g[2][2] = 0x83; // back to text, shown as text glyph 3 (a plain copy)
    g[2][3] = 0x41;
    for (uint32_t frame : {0u, 8u}) {
        bool inverse = frame == 8;
        ASSERT_EQ(ref::RenderAndCompare(font, g, frame), "") << frame;
        for (int p = 0; p < 10; ++p) {
            EXPECT_EQ(CellPixels(0, p, 0), FontPixels(true, 0x11, p));
            EXPECT_EQ(CellPixels(0, p, 1), FontPixels(true, 0x41, p));
            EXPECT_EQ(CellPixels(1, p, 0), FontPixels(false, 0x41, p));
            EXPECT_EQ(CellPixels(2, p, 0), FontPixels(true, 0x17, p)) << "plain copy";
            EXPECT_EQ(CellPixels(2, p, 1), FontPixels(true, 0x41, p) ^ (inverse ? 0x3F : 0));
            EXPECT_EQ(CellPixels(2, p, 2), FontPixels(false, 0x03, p));
            EXPECT_EQ(CellPixels(2, p, 3), FontPixels(false, 0x41, p));
        }
    }
}

// Every byte value either is a control code (0x01-0x07, 0x11-0x17, with or without bit 7) or
// leaves the set as it was.
TEST_F(Renderer, WhichBytesAreControlCodes) {
    for (int b = 0; b < 256; ++b) {
        int code = b & 0x7F;
        bool control = (code >= 0x01 && code <= 0x07) || (code >= 0x11 && code <= 0x17);
        EXPECT_EQ(IsControlCode(uint8_t(b)), control) << b;
    }
    // Each byte after a switch to mosaic, and after a switch back to text.
    for (uint8_t b : {0x00, 0x08, 0x0F, 0x10, 0x18, 0x1F, 0x80, 0x88, 0x90, 0x9F, 0x20, 0x51}) {
        ref::Grid g = ref::FilledGrid(0x20);
        g[0][0] = 0x11;
        g[0][1] = b;
        g[1][0] = 0x01;
        g[1][1] = b;
        EXPECT_EQ(ref::RenderAndCompare(font, g, 0), "") << int(b);
        for (int p = 0; p < 10; ++p) {
            EXPECT_EQ(CellPixels(0, p, 1), FontPixels(true, b & 0x7F, p)) << int(b);
            EXPECT_EQ(CellPixels(1, p, 1), FontPixels(false, b & 0x7F, p)) << int(b);
        }
    }
}

// Random screens of every byte value, with a font whose bits 1-0 are set at random, in several
// frames of both phases: the whole picture against the reference.
TEST_F(Renderer, RandomScreensMatchTheReference) {
    font = ref::MakeFont(42, true);
    ASSERT_TRUE(ref::InstallFont(font));
    uint32_t seed = 99;
    for (int round = 0; round < 6; ++round) {
        ref::Grid g;
        for (auto& row : g)
            for (uint8_t& b : row) {
                seed = seed * 1664525u + 1013904223u;
                b = uint8_t(seed >> 24);
            }
        ASSERT_EQ(ref::RenderAndCompare(font, g, uint32_t(round * 5)), "") << "round " << round;
    }
}

// Bits 1-0 of a glyph byte land on the next cell's first two pixels, but not across a group of
// four cells: each three-byte group of a line reads 0x03 0x0C 0x30.
TEST_F(Renderer, LowBitsSpillWithinGroupsOfFour) {
    for (int p = 0; p < 10; ++p)
        font[10 * 0x2E + p] = 0x03;
    ASSERT_TRUE(ref::InstallFont(font));
    ref::Grid g = ref::FilledGrid(0x20);
    g[3].fill(0x2E);
    ASSERT_EQ(ref::RenderAndCompare(font, g, 0), "");
    for (int y = 30; y < 40; ++y)
        for (int k = 0; k < 10; ++k) {
            EXPECT_EQ(FrameBitmap[y][3 * k], 0x03) << y << " group " << k;
            EXPECT_EQ(FrameBitmap[y][3 * k + 1], 0x0C) << y << " group " << k;
            EXPECT_EQ(FrameBitmap[y][3 * k + 2], 0x30) << y << " group " << k;
        }
    // Inverse copies keep bits 1-0: 0xAE beside blank cells is 0xFF (frames 8-15) or 0x03.
    for (int c = 0; c < 40; ++c)
        g[3][c] = c % 2 ? 0x20 : 0xAE;
    for (uint32_t frame : {0u, 8u}) {
        const uint8_t want[3][2] = {{0x03, 0xFF}, {0x00, 0x0F}, {0x30, 0xF0}};
        ASSERT_EQ(ref::RenderAndCompare(font, g, frame), "") << frame;
        for (int k = 0; k < 10; ++k)
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(FrameBitmap[35][3 * k + i], want[i][frame == 8]) << frame << " " << k;
    }
}

// The last 8 bytes of each 128-byte block belong to no row.
TEST_F(Renderer, BlockEndsAreNeverShown) {
    for (int block = 0; block < 8; ++block)
        for (int i = 120; i < 128; ++i)
            WriteByte(uint16_t(0x7C00 + 128 * block + i), 0xFF);
    ref::MarkFill();
    frame_count = 8;
    RenderFrame();
    EXPECT_EQ(ref::CompareFrame(ref::ReferencePicture(font, ref::FilledGrid(0x20), true)), "");
}

// Row r starts at 0x7C00 + 128 * (r mod 8) + 40 * (r div 8): the second row at 0x7C80.
TEST_F(Renderer, RowsFollowTheBlockLayout) {
    const uint16_t starts[24] = {0x7C00, 0x7C80, 0x7D00, 0x7D80, 0x7E00, 0x7E80, 0x7F00, 0x7F80,
                                 0x7C28, 0x7CA8, 0x7D28, 0x7DA8, 0x7E28, 0x7EA8, 0x7F28, 0x7FA8,
                                 0x7C50, 0x7CD0, 0x7D50, 0x7DD0, 0x7E50, 0x7ED0, 0x7F50, 0x7FD0};
    for (int r = 0; r < 24; ++r) {
        EXPECT_EQ(RowAddressTable[r], starts[r]) << r;
        ResetMachineForTest();
        WriteByte(starts[r], 0xA0); // lit block in the inverse phase
        WriteByte(uint16_t(starts[r] + 39), 0xA0);
        ref::Grid g = ref::FilledGrid(0x20);
        g[r][0] = g[r][39] = 0xA0;
        ref::MarkFill();
        frame_count = 8;
        RenderFrame();
        EXPECT_EQ(ref::CompareFrame(ref::ReferencePicture(font, g, true)), "") << "row " << r;
    }
}

TEST_F(Renderer, ShortFontShowsLitBlocksForInverseMosaics) {
    ASSERT_TRUE(ref::InstallFont(font, 1280));
    ref::Font short_font{};
    std::memcpy(short_font.data(), font.data(), 1280);
    ref::Grid g = ref::FilledGrid(0x20);
    g[0][0] = 0x11;
    g[0][1] = 0xC1; // mosaic 0x41 past the file's end: dark, its copy lit
    g[0][2] = 0xA0; // mosaic 0x20's copy is a plain copy: dark in both phases
    ASSERT_EQ(ref::RenderAndCompare(short_font, g, 8), "");
    for (int p = 0; p < 10; ++p) {
        EXPECT_EQ(CellPixels(0, p, 1), 0x3F);
        EXPECT_EQ(CellPixels(0, p, 2), 0);
    }
    ASSERT_EQ(ref::RenderAndCompare(short_font, g, 0), "");
    for (int p = 0; p < 10; ++p)
        EXPECT_EQ(CellPixels(0, p, 1), 0);
}

TEST_F(Renderer, PbmFileHoldsTheFrameInverted) {
    ref::Grid g = ref::FilledGrid(0x20);
    g[0][0] = 0xA0;
    g[23][39] = 0x41;
    ref::PutScreen(g);
    frame_count = 8;
    RenderFrame();
    ScratchFolder folder;
    ASSERT_TRUE(WriteFramePbm("frame.pbm"));
    std::string file = folder.ReadFile("frame.pbm");
    const std::string header = "P4\n240 240\n";
    ASSERT_EQ(file.size(), header.size() + 240 * 30);
    EXPECT_EQ(file.substr(0, header.size()), header);
    for (int y = 0; y < 240; ++y)
        for (int i = 0; i < 30; ++i)
            ASSERT_EQ(uint8_t(file[header.size() + 30 * y + i]), uint8_t(~FrameBitmap[y][i]))
                << y << " " << i;
    EXPECT_EQ(uint8_t(file[header.size()]), 0x03) << "six lit pixels at the top left are 0 in PBM";
    EXPECT_FALSE(WriteFramePbm("no/such/folder/frame.pbm"));
}

// A picture that cannot be written leaves the old file whole and no temporary file behind.
TEST_F(Renderer, FailedPictureWriteKeepsTheOldFile) {
    RenderFrame();
    ScratchFolder folder;
    folder.WriteFile("old.png", "previous picture");
    folder.WriteFile("old.pbm", "previous picture");
    // Writes past 40 bytes fail (a file size limit, as a full disk would): less than any
    // compressed picture.
    bool png, pbm;
    {
        FileSizeLimit limit(40);
        png = WriteFramePng("old.png");
        pbm = WriteFramePbm("old.pbm");
    }
    EXPECT_FALSE(png);
    EXPECT_FALSE(pbm);
    EXPECT_TRUE(folder.ReadFile("old.png") == "previous picture");
    EXPECT_TRUE(folder.ReadFile("old.pbm") == "previous picture");
    EXPECT_TRUE(WriteFramePng("old.png"));
    EXPECT_EQ(folder.ReadFile("old.png").substr(1, 3), "PNG");
    // No temporary file is left behind, after the failures or the success.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        entries += entry.path().filename().string().rfind("old.", 0) == 0;
    EXPECT_EQ(entries, 2u);
}

TEST_F(Renderer, ScreenTextInRowOrderWithoutBlinkBits) {
    const char* lines[3] = {"HELLO", "ABC80", "READY"};
    int rows[3] = {0, 1, 8};
    for (int i = 0; i < 3; ++i)
        for (int c = 0; lines[i][c]; ++c)
            WriteByte(ref::CellAddress(rows[i], c), uint8_t(lines[i][c] | (c % 2 ? 0x80 : 0)));
    char text[24][41];
    std::memset(text, 'x', sizeof text);
    ReadScreenText(text);
    EXPECT_EQ(std::string(text[0]), "HELLO" + std::string(35, ' '));
    EXPECT_EQ(std::string(text[1]), "ABC80" + std::string(35, ' '));
    EXPECT_EQ(std::string(text[8]), "READY" + std::string(35, ' '));
    EXPECT_EQ(std::string(text[23]), std::string(40, ' '));
}

} // namespace
