// From text to key strokes: text becomes ABC80 codes through the one character map; each code
// becomes the key stroke that gives it on the keyboard model (scan code with the shift and control
// it needs). The key pacer (system/pacer.h) presses them at the pace the machine takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t CodeEnter = 0x0D;

// Set-1 scan codes of the keys the front ends and the pacer name.
constexpr uint8_t ScanControl = 29;
constexpr uint8_t ScanEnter = 28;
constexpr uint8_t ScanLeftShift = 42;
constexpr uint8_t ScanRightShift = 54;
constexpr uint8_t ScanSpace = 57;
constexpr uint8_t ScanCapsLock = 58;
constexpr uint8_t ScanBackspace = 14;
constexpr uint8_t ScanLeft = 75;
constexpr uint8_t ScanRight = 77;
constexpr uint8_t ScanF10 = 68;

// A key of the ABC80 keyboard that is counted (has a code): not shift, control, Caps Lock, nor a
// scan code without a key.
bool IsCountedKey(unsigned scan_code);

// One key press as the keyboard model sees it.
struct KeyStroke {
    uint8_t scan_code;
    bool shift;
    bool control;
};

// The key stroke for a 7-bit ABC80 code; false when no key gives it.
bool KeyStrokeForCode(uint8_t code, KeyStroke& key);

// Where a text comes from decides what of the one grammar below applies.
enum class TextSource : uint8_t {
    // Paste, typed-in files, the page: taken as it stands; what cannot be typed is skipped and
    // counted, control characters too (a pasted Ctrl-C must not stop a program).
    Typed,
    // A script (the runner's --type, the control protocol's "type"): escapes too, \r or \n Enter,
    // \t right arrow, \b backspace, \\ backslash, \xHH the ABC80 code HH (\x03 is Ctrl-C), and
    // control characters typed as their keys; the first thing that cannot be typed refuses the
    // whole text.
    Script,
};

// Text (UTF-8) to the codes that can be typed. Line ends (LF, CRLF, CR) become Enter; typographic
// quotes, apostrophes, dashes, the ellipsis and non-breaking spaces their ASCII forms; every other
// character is the ABC80 code for it. Typed: characters with no ABC80 key and bytes that are not
// UTF-8 are skipped, and the return value counts them (one per character, or per byte that is not
// UTF-8). Script: 0, or 1 with no codes and *error saying what could not be typed and where.
size_t TextToCodes(const char* text, size_t size, std::string& codes,
                   TextSource source = TextSource::Typed, std::string* error = nullptr);

// One character (UTF-8, and nothing after it) as the key stroke that types it; false when no key
// gives it.
bool KeyStrokeForCharacter(const std::string& utf8, KeyStroke& key);

// Presses a key stroke through the keyboard model with exactly the modifiers it needs, whatever
// the model's SHIFT and CONTROL were; they are put back right after the press, since the model
// takes the code at the press. A letter key with CAPS on would give its capital, so Caps Lock is
// toggled off first; the result says so, and ReleaseKeyStroke then toggles it on again.
bool PressKeyStroke(const KeyStroke& key);
void ReleaseKeyStroke(const KeyStroke& key, bool caps_toggled);

// Whether the machine has taken a key that went down: the processor accepted the keyboard
// interrupt (KEY cleared) and the emulated software has read port 56 since, so it saw the key
// down. The wait is counted in clock ticks the processor took, not in host time: a busy host or
// a slow speed setting delays a key but never loses it. Once the interrupt was accepted the wait
// has no limit (software that queues keys reads the port only when it has room for the key); a
// machine that keeps its interrupts off for KeyTakeTicks ticks is not going to take it, and the
// key then counts as not taken.
enum class KeyTake : uint8_t { Waiting, Taken, NotTaken };
constexpr uint64_t KeyTakeTicks = 25; // half a second of the machine's time

struct KeyWatch {
    uint32_t port_reads = 0; // KeyboardPortReads when the key went down
    uint64_t ticks = 0;      // ticks the processor had taken then
};

// Call just before the key goes down.
KeyWatch WatchKey();
KeyTake CheckKeyTaken(const KeyWatch& watch);
