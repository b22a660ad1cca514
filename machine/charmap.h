// The ABC80's character set and Unicode, both ways: one map for typing, pasting, copying the
// screen and host file names.
//
// The ABC80 uses 7-bit ASCII with eleven codes given Swedish letters: 0x24 ¤, 0x40 É, 0x5B Ä,
// 0x5C Ö, 0x5D Å, 0x5E Ü, 0x60 é, 0x7B ä, 0x7C ö, 0x7D å, 0x7E ü. Typed text maps both the letter
// and the ASCII character it replaces ($ @ [ \ ] ^ ` { | } ~) to that code, since the keyboard has
// only the one key. The mosaic set draws codes 0x20-0x3F and 0x60-0x7F as 2 x 3 blocks (bits 0/1
// top, 2/3 middle, 4/6 bottom), shown in Unicode as the sextants of U+1FB00.
#pragma once

#include "common/utf8.h" // the host side of the map is UTF-8

#include <cstdint>

constexpr uint32_t NoCharacter = 0xFFFFFFFF;

// The ABC80 code for a Unicode character, or -1 when it has none. Control characters below 0x20
// map to themselves; line ends are the caller's to turn into Enter.
int Abc80CodeForCharacter(uint32_t cp);

// The character a 7-bit code shows in the text set: the Swedish letters as themselves, codes
// below 0x20 as a space, 0x7F as a full block.
uint32_t TextCellCharacter(uint8_t code);
// The character a 7-bit code shows in the mosaic set: 0x40-0x5F as in the text set, the others
// as sextants (space and U+2588 for the empty and full cells, the half blocks where Unicode has
// them).
uint32_t MosaicCellCharacter(uint8_t code);
