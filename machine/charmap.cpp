#include "machine/charmap.h"

namespace {

struct SwedishLetter {
    uint8_t code;
    uint32_t unicode;
};
constexpr SwedishLetter SwedishLetters[] = {
    {0x24, 0x00A4}, {0x40, 0x00C9}, {0x5B, 0x00C4}, {0x5C, 0x00D6}, {0x5D, 0x00C5}, {0x5E, 0x00DC},
    {0x60, 0x00E9}, {0x7B, 0x00E4}, {0x7C, 0x00F6}, {0x7D, 0x00E5}, {0x7E, 0x00FC},
};

constexpr uint32_t FullBlock = 0x2588;
constexpr uint32_t LeftHalfBlock = 0x258C;
constexpr uint32_t RightHalfBlock = 0x2590;
constexpr uint32_t FirstSextant = 0x1FB00;

} // namespace

int Abc80CodeForCharacter(uint32_t cp) {
    if (cp < 0x80) return int(cp);
    for (const auto& l : SwedishLetters)
        if (l.unicode == cp) return l.code;
    return -1;
}

uint32_t TextCellCharacter(uint8_t code) {
    code &= 0x7F;
    if (code < 0x20) return ' ';
    if (code == 0x7F) return FullBlock;
    for (const auto& l : SwedishLetters)
        if (l.code == code) return l.unicode;
    return code;
}

uint32_t MosaicCellCharacter(uint8_t code) {
    code &= 0x7F;
    if (code < 0x20) return ' ';
    if (code >= 0x40 && code < 0x60) return TextCellCharacter(code);
    // Bits 0-4 and 6 are the six cells, in the sextants' own order once bit 6 moves to bit 5.
    unsigned v = (code & 0x1F) | (code & 0x40) >> 1;
    switch (v) {
    case 0: return ' ';
    case 21: return LeftHalfBlock;
    case 42: return RightHalfBlock;
    case 63: return FullBlock;
    default: return FirstSextant + v - 1 - (v > 21) - (v > 42); // Unicode skips the four above
    }
}

bool DecodeUtf8(const char* text, size_t size, size_t& i, uint32_t& cp) {
    if (i >= size) return false;
    const uint8_t b = uint8_t(text[i]);
    if (b < 0x80) {
        cp = b;
        i++;
        return true;
    }
    int more;
    uint32_t minimum;
    if (b >= 0xC2 && b <= 0xDF) {
        more = 1;
        minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        more = 2;
        minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        more = 3;
        minimum = 0x10000;
    } else {
        return false; // continuation byte, C0/C1 (always overlong) or F5-FF
    }
    if (size - i <= size_t(more)) return false;
    uint32_t v = b & (0x3F >> more);
    for (int k = 1; k <= more; k++) {
        const uint8_t c = uint8_t(text[i + k]);
        if ((c & 0xC0) != 0x80) return false;
        v = v << 6 | (c & 0x3F);
    }
    if (v < minimum || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    cp = v;
    i += size_t(more) + 1;
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}
