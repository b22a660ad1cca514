// font.bin into FontImage and the GlyphTable with its inverse copies.
#include "display_reference.h"

#include <sys/stat.h>

namespace {

// The column of glyph code in a set, as stored (inverse false) or as its inverse copy.
int Column(bool mosaic, bool inverse, int code) {
    return (mosaic ? 256 : 0) + (inverse ? 128 : 0) + code;
}

// Every column of every plane against the font it came from: the glyph as in the file, and its
// copy flipped in bits 7-2 except for the plain-copy ranges.
void ExpectTableFromFont(const ref::Font& f) {
    for (int mosaic = 0; mosaic < 2; ++mosaic)
        for (int code = 0; code < 128; ++code) {
            bool plain = mosaic ? code <= 32 : code < 32;
            for (int p = 0; p < 10; ++p) {
                uint8_t v = f[1280 * mosaic + 10 * code + p];
                ASSERT_EQ(GlyphTable[p][Column(mosaic, false, code)], v)
                    << "set " << mosaic << " code " << code << " row " << p;
                ASSERT_EQ(GlyphTable[p][Column(mosaic, true, code)], plain ? v : (v ^ 0xFC))
                    << "copy, set " << mosaic << " code " << code << " row " << p;
            }
        }
}

TEST(CharacterGenerator, ExpandsEveryGlyphOfARandomFont) {
    for (uint32_t seed : {1u, 77u}) {
        ref::Font f = ref::MakeFont(seed, true);
        ASSERT_TRUE(ref::InstallFont(f));
        EXPECT_EQ(0, std::memcmp(FontImage, f.data(), f.size()));
        ExpectTableFromFont(f);
    }
}

TEST(CharacterGenerator, InverseCopiesAtTheRangeEdges) {
    ref::Font f{}; // all glyphs blank except the byte patterns below, in every row
    auto set_glyph = [&](bool mosaic, int code, uint8_t v) {
        for (int p = 0; p < 10; ++p)
            f[1280 * mosaic + 10 * code + p] = v;
    };
    set_glyph(false, 31, 0xA8);
    set_glyph(false, 33, 0x03);
    set_glyph(true, 32, 0x54);
    set_glyph(true, 33, 0x54);
    set_glyph(true, 0x41, 0x03);
    ASSERT_TRUE(ref::InstallFont(f));

    struct Case {
        int column;
        uint8_t want;
        const char* what;
    } cases[] = {
        {160, 0xFC, "blank text 0x20: its copy is a lit block"},
        {32, 0x00, "blank text 0x20 as stored"},
        {128 + 31, 0xA8, "text 31: plain copy"},
        {128 + 33, 0xFF, "text 33 = 0x03: copy flips bits 7-2, keeps 1-0"},
        {33, 0x03, "text 33 as stored keeps bits 1-0"},
        {128 + 0, 0x00, "text 0: plain copy"},
        {384 + 32, 0x54, "mosaic 32: plain copy"},
        {384 + 33, 0xA8, "mosaic 33: inverted"},
        {384 + 31, 0x00, "blank mosaic 31: plain copy"},
        {384 + 34, 0xFC, "blank mosaic 34: lit block"},
        {256 + 0x41, 0x03, "mosaic 0x41 as stored"},
        {384 + 0x41, 0xFF, "mosaic 0x41 copy"},
        {511, 0xFC, "blank mosaic 127: lit block"},
    };
    for (const Case& c : cases)
        for (int p = 0; p < 10; ++p)
            EXPECT_EQ(GlyphTable[p][c.column], c.want) << c.what << ", row " << p;
}

// Shorter files leave the missing glyphs dark and their inverted copies lit; a longer file is read
// only to 2,560 bytes.
TEST(CharacterGenerator, ShortAndLongFiles) {
    ref::Font f = ref::MakeFont(5, false);
    for (size_t size : {size_t(0), size_t(1), size_t(1279), size_t(1280), size_t(2000),
                        size_t(2559), size_t(2560), size_t(4096)}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(ref::InstallFont(f, size));
        ref::Font expected{};
        std::memcpy(expected.data(), f.data(), std::min(size, expected.size()));
        EXPECT_EQ(0, std::memcmp(FontImage, expected.data(), expected.size()));
        ExpectTableFromFont(expected);
    }
}

TEST(CharacterGenerator, TextSetOnlyFileGivesDarkMosaicsAndLitCopies) {
    ref::Font f = ref::MakeFont(9, false);
    ASSERT_TRUE(ref::InstallFont(f, 1280));
    for (int p = 0; p < 10; ++p) {
        for (int code = 0; code < 128; ++code) {
            EXPECT_EQ(GlyphTable[p][code], f[10 * code + p]);
            EXPECT_EQ(GlyphTable[p][256 + code], 0);
            EXPECT_EQ(GlyphTable[p][384 + code], code <= 32 ? 0x00 : 0xFC) << code;
        }
    }
}

// A font.bin that cannot be opened as a file gives 0 and leaves the tables as they were.
TEST(CharacterGenerator, UnusableFontFileLeavesTablesAlone) {
    ref::Font f = ref::MakeFont(3, true);
    ASSERT_TRUE(ref::InstallFont(f));
    uint8_t before[10][512];
    std::memcpy(before, GlyphTable, sizeof before);

    {
        ScratchFolder folder; // no font.bin
        EXPECT_FALSE(BuildCharacterGenerator());
    }
    {
        ScratchFolder folder;
        ASSERT_EQ(mkdir("font.bin", 0755), 0);
        EXPECT_FALSE(BuildCharacterGenerator()) << "a folder named font.bin";
    }
    EXPECT_EQ(0, std::memcmp(before, GlyphTable, sizeof before));
    EXPECT_EQ(0, std::memcmp(FontImage, f.data(), f.size()));
}

} // namespace
