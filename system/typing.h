// Typing text into the machine the way a user would at the keyboard: shared by the desktop
// program (natural keyboard mode, paste, typed-in files) and the headless runner.
//
// Text becomes ABC80 codes through the one character map; each code becomes the key stroke that
// gives it on the keyboard model (scan code with the shift and control it needs). A Typist then
// presses the strokes one by one at the pace the machine takes them: press, wait until the
// machine has taken the key (see KeyWatch), hold, release, pause, next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t CodeEnter = 0x0D;

// One key press as the keyboard model sees it.
struct KeyStroke {
    uint8_t scan_code;
    bool shift;
    bool control;
};

// The key stroke for a 7-bit ABC80 code; false when no key gives it.
bool KeyStrokeForCode(uint8_t code, KeyStroke& key);

// Text (UTF-8) to the codes that can be typed. Line ends (LF, CRLF, CR) become Enter. Characters
// with no ABC80 code, other control characters, and bytes that are not UTF-8 are skipped; the
// return value counts them (one per character, or per byte that is not UTF-8).
size_t TextToCodes(const char* text, size_t size, std::string& codes);

// Presses a key stroke through the keyboard model with exactly the modifiers it needs, whatever
// the model's SHIFT and CONTROL were; they are put back right after the press, since the model
// takes the code at the press. A letter key with CAPS on would give its capital, so Caps Lock is
// toggled off first; the result says so, and ReleaseKeyStroke then toggles it on again.
bool PressKeyStroke(const KeyStroke& key);
void ReleaseKeyStroke(const KeyStroke& key, bool caps_toggled);

// Whether the machine has taken a key that went down: the processor accepted the keyboard
// interrupt (KEY cleared) and the emulated software has read port 56 since, so it saw the key
// down. The wait is counted in clock ticks the processor took, not in host time: a busy host or
// a slow speed setting delays a key but never loses it. A machine that keeps its interrupts off
// for KeyTakeTicks ticks is not going to take it; the key then counts as not taken.
enum class KeyTake : uint8_t { Waiting, Taken, NotTaken };
constexpr uint64_t KeyTakeTicks = 25; // half a second of the machine's time

struct KeyWatch {
    uint32_t port_reads = 0; // KeyboardPortReads when the key went down
    uint64_t ticks = 0;      // ticks the processor had taken then
};

// Call just before the key goes down.
KeyWatch WatchKey();
KeyTake CheckKeyTaken(const KeyWatch& watch);

// Pacing in steps: the front end calls TypistStep at a steady rate (every tick, or faster).
struct TypistPace {
    int hold_steps = 1;      // steps a key stays down after the machine took it
    int gap_steps = 1;       // steps after the release before the next press
    int enter_gap_steps = 1; // the same after Enter, which gives the machine a line to run
};

struct Typist {
    enum Phase : uint8_t { Idle, WaitAccept, Hold, Gap };
    std::string codes; // what is left to type is codes.substr(next)
    size_t next = 0;
    Phase phase = Idle;
    int steps = 0; // steps spent in this phase
    KeyStroke key{};
    bool caps_toggled = false;
    uint8_t code = 0;     // the code being typed
    KeyWatch watch;       // of the key that is down
    size_t not_taken = 0; // keys the machine did not take (interrupts off for KeyTakeTicks)
    TypistPace pace;
};

// Starts typing codes (any earlier typing is cancelled first).
void TypistStart(Typist& typist, const std::string& codes);
// One step: returns true while typing goes on, false once the last key is released and its
// pause is over.
bool TypistStep(Typist& typist);
// Stops at once; a key still down is released.
void TypistCancel(Typist& typist);
inline bool TypistBusy(const Typist& typist) { return typist.phase != Typist::Idle; }
// Codes typed so far (pressed and released, or under way).
inline size_t TypistDone(const Typist& typist) { return typist.next; }
