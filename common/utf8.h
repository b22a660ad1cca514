// UTF-8, strictly: what host text (typed, pasted, file names) and the control protocol's lines
// are. Plain C++ and header-only, so the core and the tools share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes one UTF-8 character from text[i..size); advances i past it. Returns false (i unchanged)
// for a malformed sequence: a stray continuation byte, a truncated sequence, an overlong form, a
// surrogate or a value above U+10FFFF.
inline bool DecodeUtf8(const char* text, size_t size, size_t& i, uint32_t& cp) {
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

// Whether all of s is UTF-8 by the rules above.
inline bool ValidUtf8(const std::string& s) {
    uint32_t cp;
    for (size_t i = 0; i < s.size();)
        if (!DecodeUtf8(s.data(), s.size(), i, cp)) return false;
    return true;
}

inline void AppendUtf8(std::string& out, uint32_t cp) {
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
