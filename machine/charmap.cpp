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
