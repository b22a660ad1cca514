#include "system/typing.h"

#include "cpu/processor.h"
#include "machine/charmap.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/ports.h"

#include <cstdio>

namespace {

void ToggleCaps() {
    KeyEvent(ScanCapsLock, true);
    KeyEvent(ScanCapsLock, false);
}

// Typographic characters from word processors and web pages, as the plain ASCII a typist would
// have used: quotes, apostrophes and primes, dashes and minus, spaces of every width, ellipsis.
const char* PlainForm(uint32_t cp) {
    switch (cp) {
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x201B:
    case 0x2032:
    case 0x00B4: return "'";
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x201F:
    case 0x2033:
    case 0x00AB:
    case 0x00BB: return "\"";
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2015:
    case 0x2212: return "-";
    case 0x00A0:
    case 0x2002:
    case 0x2003:
    case 0x2004:
    case 0x2005:
    case 0x2006:
    case 0x2007:
    case 0x2008:
    case 0x2009:
    case 0x200A:
    case 0x202F:
    case 0x205F: return " ";
    case 0x2026: return "...";
    default: return nullptr;
    }
}

// A script's escape at text[i], a backslash with a character after it: the code it stands for, and
// i moved past it; -1 with error set when it stands for nothing.
int Escape(const char* text, size_t size, size_t& i, std::string& error) {
    const char e = text[i + 1];
    i += 2;
    switch (e) {
    case 'r':
    case 'n': return CodeEnter;
    case 't': return 0x09; // the right arrow
    case 'b': return 0x08; // the left arrow, backspace
    case '\\': return '\\';
    case 'x': {
        const auto digit = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (i + 2 > size || digit(text[i]) < 0 || digit(text[i + 1]) < 0) {
            error = "\\x needs two hex digits";
            return -1;
        }
        i += 2;
        return digit(text[i - 2]) * 16 + digit(text[i - 1]);
    }
    default: error = std::string("unknown escape \\") + e; return -1;
    }
}

std::string Hex(const char* format, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool IsLetterKey(uint8_t scan_code) {
    return scan_code < KeyScanCodes && LetterKeyTable[KeyIndexTable[scan_code]];
}

} // namespace

bool IsCountedKey(unsigned scan_code) {
    if (scan_code == 0 || scan_code >= KeyScanCodes) return false;
    const uint8_t k = KeyIndexTable[scan_code];
    return k != 0 && !(KeyCodeTable[PlanePlain][k] & 0x80);
}

bool KeyStrokeForCode(uint8_t code, KeyStroke& key) {
    return FindKeyForCode(code, key.scan_code, key.shift, key.control);
}

size_t TextToCodes(const char* text, size_t size, std::string& codes, TextSource source,
                   std::string* error) {
    const bool script = source == TextSource::Script;
    size_t skipped = 0;
    std::string why; // a script's text stops at the first thing that cannot be typed
    KeyStroke key;
    for (size_t i = 0; i < size && why.empty();) {
        const size_t at = i;
        if (script && text[i] == '\\' && i + 1 < size) {
            const int code = Escape(text, size, i, why);
            if (code < 0) break;
            if (code > 0x7F || !KeyStrokeForCode(uint8_t(code), key))
                why = Hex("no key gives the code 0x%02X", unsigned(code));
            else
                codes.push_back(char(code));
            continue;
        }
        uint32_t cp = 0;
        if (!DecodeUtf8(text, size, i, cp)) {
            ++i;
            if (script) why = "malformed UTF-8 at byte offset " + std::to_string(at);
            ++skipped;
            continue;
        }
        if (cp == '\r' || cp == '\n') {
            if (cp == '\r' && i < size && text[i] == '\n') ++i; // CRLF is one line end
            codes.push_back(char(CodeEnter));
            continue;
        }
        if (const char* plain = PlainForm(cp)) {
            codes += plain;
            continue;
        }
        const int code = Abc80CodeForCharacter(cp);
        // Control characters act as keys (Ctrl-C stops a program): typed only from a script.
        const bool control = code < 0x20 || code > 0x7E;
        if (code >= 0 && code <= 0x7F && (script || !control) &&
            KeyStrokeForCode(uint8_t(code), key)) {
            codes.push_back(char(code));
            continue;
        }
        if (script)
            why = code < 0 ? Hex("U+%04X is not an ABC80 character", cp)
                           : Hex("no key gives the code 0x%02X", unsigned(code));
        ++skipped;
    }
    if (why.empty()) return skipped;
    codes.clear();
    if (error) *error = why;
    return 1;
}

bool KeyStrokeForCharacter(const std::string& utf8, KeyStroke& key) {
    size_t i = 0;
    uint32_t cp = 0;
    if (utf8.empty() || !DecodeUtf8(utf8.data(), utf8.size(), i, cp) || i != utf8.size())
        return false;
    const int code = Abc80CodeForCharacter(cp);
    return code >= 0 && code <= 0x7F && KeyStrokeForCode(uint8_t(code), key);
}

bool PressKeyStroke(const KeyStroke& key) {
    const uint8_t before = KeyboardState.modifiers;
    const bool caps_toggled = (before & CAPS) && IsLetterKey(key.scan_code) && !key.shift;
    if (caps_toggled) ToggleCaps();
    const bool had_shift = before & SHIFT, had_control = before & CONTROL;
    if (had_shift != key.shift) KeyEvent(ScanLeftShift, key.shift);
    if (had_control != key.control) KeyEvent(ScanControl, key.control);
    KeyEvent(key.scan_code, true);
    if (had_control != key.control) KeyEvent(ScanControl, had_control);
    if (had_shift != key.shift) KeyEvent(ScanLeftShift, had_shift);
    return caps_toggled;
}

void ReleaseKeyStroke(const KeyStroke& key, bool caps_toggled) {
    KeyEvent(key.scan_code, false);
    if (caps_toggled) ToggleCaps();
}

KeyWatch WatchKey() {
    return {KeyboardPortReads.load(std::memory_order_relaxed), ReadProcessorCounts().ticks};
}

KeyTake CheckKeyTaken(const KeyWatch& watch) {
    // The ticks are read before the port count: a key read just before its limit is taken.
    const uint64_t ticks = ReadProcessorCounts().ticks;
    const bool accepted = !(ReadControlFlags() & KEY);
    if (accepted && KeyboardPortReads.load(std::memory_order_relaxed) != watch.port_reads)
        return KeyTake::Taken;
    // Accepted but not read yet: the software reads the port when it has room for the key (a
    // busy BASIC with its queue full), however long that takes.
    if (accepted) return KeyTake::Waiting;
    return ticks - watch.ticks >= KeyTakeTicks ? KeyTake::NotTaken : KeyTake::Waiting;
}
