// The free BASIC seen from outside: the line it runs, a breakpoint on a program line, its
// variables, all read from its own tables through its symbols.
#include "cpu/bus.h"
#include "machine/charmap.h"
#include "system/debugger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The BASIC's variable tables, found through its symbols: one entry per name A-Z, A0-Z9.
constexpr int BasicNames = 26 * 11;

struct BasicLayout {
    uint16_t curline, nums, ints, strs, arrays, mem, heap_top;
};

bool FindBasic(BasicLayout& l, std::string* error) {
    const char* names[] = {"curline", "nums", "ints", "strs", "arrays", "mem", "heap_top"};
    uint16_t* slots[] = {&l.curline, &l.nums, &l.ints, &l.strs, &l.arrays, &l.mem, &l.heap_top};
    for (int i = 0; i < 7; ++i)
        if (!DebugSymbolAddress(names[i], *slots[i])) {
            if (error)
                *error = std::string("the free BASIC's symbol ") + names[i] +
                         " is not loaded (load basic.rom.sym)";
            return false;
        }
    return true;
}

uint16_t PeekWord(uint16_t a) {
    return uint16_t(ReadMemoryShared(a) | ReadMemoryShared(uint16_t(a + 1)) << 8);
}

std::string BasicName(int v) {
    std::string name(1, char('A' + v / 11));
    if (v % 11) name += char('0' + v % 11 - 1);
    return name;
}

std::string FormatNumber(float f) {
    char text[32];
    if (f == float(int32_t(f)) && f > -1e7f && f < 1e7f)
        std::snprintf(text, sizeof text, "%d", int(f));
    else
        std::snprintf(text, sizeof text, "%.7g", double(f));
    return text;
}

float PeekFloat(uint16_t a) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = bits << 8 | ReadMemoryShared(uint16_t(a + i));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// A string's text as the program would print it, in quotes; codes outside ASCII as \xHH.
std::string QuoteBasicText(uint16_t a, uint8_t length) {
    std::string text = "\"";
    for (int i = 0; i < length; ++i) {
        const uint8_t c = ReadMemoryShared(uint16_t(a + i));
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += char(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            text += esc;
        }
    }
    return text + "\"";
}

} // namespace

int DebugBasicBreak(uint32_t line, std::string* error) {
    if (line < 1 || line > 65535) {
        if (error) *error = "a BASIC line is 1-65535";
        return 0;
    }
    Breakpoint b;
    b.basic_line = int32_t(line);
    return DebugAddBreakpoint(b, error);
}

int32_t DebugBasicCurrentLine() {
    uint16_t curline;
    if (!DebugSymbolAddress("curline", curline)) return -1;
    const uint16_t line = PeekWord(curline);
    return line ? PeekWord(uint16_t(line + 2)) : -1;
}

bool DebugBasicVariables(std::vector<BasicVariable>& out, std::string* error) {
    out.clear();
    BasicLayout l;
    if (!FindBasic(l, error)) return false;
    const uint16_t heap_top = PeekWord(l.heap_top);
    // A string or an array lies between the program's start and the end of the variables.
    auto inside = [&](uint16_t a, uint32_t n) {
        return a >= l.mem && uint32_t(a) + n <= heap_top && heap_top > l.mem;
    };
    auto damaged = [&](const std::string& name) {
        if (error) *error = "the BASIC's variable " + name + " points outside its memory";
        out.clear();
        return false;
    };
    for (int v = 0; v < BasicNames; ++v) {
        const std::string name = BasicName(v);
        const float f = PeekFloat(uint16_t(l.nums + 4 * v));
        if (f != 0) out.push_back({name, FormatNumber(f)});
        const int16_t i = int16_t(PeekWord(uint16_t(l.ints + 2 * v)));
        if (i) out.push_back({name + "%", std::to_string(i)});
        const uint16_t s = PeekWord(uint16_t(l.strs + 2 * v));
        if (s) {
            // [room][length][text]
            if (!inside(s, 2)) return damaged(name + "$");
            const uint8_t room = ReadMemoryShared(s), length = ReadMemoryShared(uint16_t(s + 1));
            if (length > room || !inside(s, 2u + room)) return damaged(name + "$");
            out.push_back({name + "$", QuoteBasicText(uint16_t(s + 2), length)});
        }
        static const char* const suffix[3] = {"", "%", "$"};
        for (int kind = 0; kind < 3; ++kind) {
            const uint16_t a = PeekWord(uint16_t(l.arrays + 2 * (kind * BasicNames + v)));
            if (!a) continue;
            const std::string array = name + suffix[kind] + "()";
            // [n1 (2)][n2 (2)][room] then n1 * n2 elements
            if (!inside(a, 5)) return damaged(array);
            const uint16_t n1 = PeekWord(a), n2 = PeekWord(uint16_t(a + 2));
            const uint8_t room = ReadMemoryShared(uint16_t(a + 4));
            const uint32_t size = kind == 0 ? 4 : kind == 1 ? 2 : room + 1u;
            if (!n1 || !n2 || !inside(a, 5 + uint32_t(n1) * n2 * size)) return damaged(array);
            std::string value = "(" + std::to_string(n1 - 1);
            if (n2 > 1) value += "," + std::to_string(n2 - 1);
            value += "):";
            const uint32_t shown = std::min<uint32_t>(uint32_t(n1) * n2, 8);
            for (uint32_t e = 0; e < shown; ++e) {
                const uint16_t at = uint16_t(a + 5 + e * size);
                value += e ? ", " : " ";
                if (kind == 0)
                    value += FormatNumber(PeekFloat(at));
                else if (kind == 1)
                    value += std::to_string(int16_t(PeekWord(at)));
                else
                    value += QuoteBasicText(uint16_t(at + 1), std::min(ReadMemoryShared(at), room));
            }
            if (uint32_t(n1) * n2 > shown) value += ", ...";
            out.push_back({array, value});
        }
    }
    return true;
}

// Lines are kept as [length (2)][number (2)][packed text][0] from `mem` up, a zero length after
// the last; the packed text has the keywords as tokens from 0x80 up, in the order of the
// zero-ended names at `keywords`.
bool DebugBasicProgram(std::string& out, std::string* error) {
    uint16_t mem = 0, end = 0, keywords = 0;
    if (!DebugSymbolAddress("mem", mem) || !DebugSymbolAddress("mem_sig", end) ||
        !DebugSymbolAddress("keywords", keywords) || end <= mem) {
        if (error) *error = "the free BASIC's symbols are not loaded (load basic.rom.sym)";
        return false;
    }
    std::vector<std::string> names;
    for (uint16_t a = keywords; names.size() < 0x7F;) {
        std::string name;
        for (uint8_t c; (c = ReadMemoryShared(a++)) != 0 && name.size() < 16;)
            name += char(c);
        if (name.empty()) break;
        names.push_back(name);
    }
    out.clear();
    uint32_t last = 0;
    for (uint32_t p = mem;;) {
        if (p + 2 > end) break;
        const uint16_t length = PeekWord(uint16_t(p));
        if (!length) return true;
        const uint16_t number = PeekWord(uint16_t(p + 2));
        if (length < 6 || p + length > end || number <= last) break;
        last = number;
        out += std::to_string(number) + ' ';
        for (uint32_t t = p + 4; t < p + length - 1u; ++t) {
            const uint8_t c = ReadMemoryShared(uint16_t(t));
            if (c >= 0x80 && c - 0x80u < names.size())
                out += names[c - 0x80];
            else if (c == 0x24)
                out += '$';
            else
                AppendUtf8(out, TextCellCharacter(c & 0x7F));
        }
        out += '\n';
        p += length;
    }
    if (error) *error = "the program area does not hold a program the BASIC stored";
    return false;
}
