// The character map between the ABC80's set and Unicode, and the strict UTF-8 decoder.
#include "machine/charmap.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// The eleven Swedish letters: typed as themselves they give their codes, and the codes show them.
TEST(CharacterMap, SwedishLettersBothWays) {
    const struct {
        uint32_t unicode;
        uint8_t code;
    } letters[] = {{0xA4, 0x24}, {0xC9, 0x40}, {0xC4, 0x5B}, {0xD6, 0x5C},
                   {0xC5, 0x5D}, {0xDC, 0x5E}, {0xE9, 0x60}, {0xE4, 0x7B},
                   {0xF6, 0x7C}, {0xE5, 0x7D}, {0xFC, 0x7E}};
    for (const auto& l : letters) {
        EXPECT_EQ(Abc80CodeForCharacter(l.unicode), l.code) << std::hex << l.unicode;
        EXPECT_EQ(TextCellCharacter(l.code), l.unicode) << std::hex << int(l.code);
        EXPECT_EQ(TextCellCharacter(uint8_t(l.code | 0x80)), l.unicode) << "blink bit ignored";
    }
}

TEST(CharacterMap, AsciiAndCharactersWithoutCode) {
    // The ASCII characters the Swedish set replaces type as the same key.
    for (char c : std::string("$@[\\]^`{|}~AZaz09 +-*/\""))
        EXPECT_EQ(Abc80CodeForCharacter(uint8_t(c)), uint8_t(c));
    for (uint32_t cp : {0x80u, 0xA0u, 0xDFu, 0x20ACu, 0x1FB00u, 0x10FFFFu})
        EXPECT_EQ(Abc80CodeForCharacter(cp), -1) << std::hex << cp;
    EXPECT_EQ(TextCellCharacter(0x00), uint32_t(' '));
    EXPECT_EQ(TextCellCharacter(0x1F), uint32_t(' '));
    EXPECT_EQ(TextCellCharacter(0x7F), 0x2588u);
    EXPECT_EQ(TextCellCharacter('A'), uint32_t('A'));
}

// Mosaic cells: every one of the 64 block patterns gets a distinct character, and a few are
// checked against the Unicode chart: U+1FB00 is the top left cell alone, U+1FB3B the last.
TEST(CharacterMap, MosaicCellsAreDistinctSextants) {
    const struct {
        uint8_t code;
        uint32_t unicode;
    } known[] = {{0x20, ' '},    {0x21, 0x1FB00}, {0x22, 0x1FB01}, {0x23, 0x1FB02},
                 {0x35, 0x258C}, {0x6A, 0x2590},  {0x7F, 0x2588},  {0x7E, 0x1FB3B},
                 {0x41, 'A'},    {0x5D, 0xC5},    {0x05, ' '}};
    for (const auto& k : known)
        EXPECT_EQ(MosaicCellCharacter(k.code), k.unicode) << std::hex << int(k.code);
    std::set<uint32_t> seen;
    for (int code = 0x20; code < 0x80; code++)
        if (code < 0x40 || code >= 0x60) seen.insert(MosaicCellCharacter(uint8_t(code)));
    EXPECT_EQ(seen.size(), 64u);
}

TEST(CharacterMap, Utf8RoundTripAndRefusals) {
    for (uint32_t cp :
         {0x41u, 0x7Fu, 0x80u, 0xC5u, 0x7FFu, 0x800u, 0xFFFDu, 0x10000u, 0x1FB3Bu, 0x10FFFFu}) {
        std::string s;
        AppendUtf8(s, cp);
        size_t i = 0;
        uint32_t back = 0;
        ASSERT_TRUE(DecodeUtf8(s.data(), s.size(), i, back)) << std::hex << cp;
        EXPECT_EQ(back, cp);
        EXPECT_EQ(i, s.size());
    }
    const struct {
        const char* bytes;
        const char* why;
    } bad[] = {
        {"\x80", "stray continuation"},      {"\xC3", "truncated"},
        {"\xC0\x80", "overlong NUL"},        {"\xC1\xBF", "overlong ASCII"},
        {"\xE0\x80\xAF", "overlong 3"},      {"\xF0\x80\x80\xAF", "overlong 4"},
        {"\xED\xA0\x80", "surrogate"},       {"\xF4\x90\x80\x80", "above U+10FFFF"},
        {"\xF8\x88\x80\x80\x80", "5 bytes"}, {"\xE2\x28\xA1", "bad continuation"},
    };
    for (const auto& b : bad) {
        std::string s = b.bytes;
        size_t i = 0;
        uint32_t cp = 0;
        EXPECT_FALSE(DecodeUtf8(s.data(), s.size(), i, cp)) << b.why;
        EXPECT_EQ(i, 0u) << b.why;
    }
}

} // namespace
