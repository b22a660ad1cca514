// The ABC80 keyboard on a Swedish PC keyboard. Key events with PC set-1 scan codes (0-255, the
// extended-key bit dropped) come from the key pacer alone (system/pacer.h), under its mutex, on the
// clock thread, the ProcessorThread or a deterministic driver. A counted key press puts its ABC80
// code with bit 7 set in InPorts[56], 26 in InterruptBusByte, and only then sets KEY; a release of
// the last held key clears bit 7 of port 56 without an interrupt. Modifiers come from the events.
#pragma once

#include <cstdint>

constexpr uint8_t SHIFT = 0x03; // both bits set and cleared together, by either shift key
constexpr uint8_t CONTROL = 0x04;
constexpr uint8_t CAPS = 0x40;
constexpr uint8_t KeyboardBusByte = 26; // mode 2 vector I * 256 + 52

constexpr int KeyScanCodes = 96; // scan codes looked up: 0-95
constexpr int KeyIndices = 75;   // key indices 0-74
enum KeyPlane { PlanePlain, PlaneShift, PlaneControl, PlaneControlShift };

struct KeyboardRecord {
    uint8_t modifiers;    // SHIFT | CONTROL | CAPS
    int8_t held_keys;     // counted keys now down
    uint8_t key_code;     // ABC80 code of the last counted press; bit 7 while a key is held
    uint8_t caps_applies; // 1: last counted press was a letter with neither shift nor control
};

extern KeyboardRecord KeyboardState; // touched by the key pacer only, under its mutex

extern const uint8_t KeyIndexTable[KeyScanCodes]; // scan code -> key index, 0 for none
extern const uint8_t KeyCodeTable[4][KeyIndices]; // plane, key index -> ABC80 code or 0xFF
extern const uint8_t LetterKeyTable[KeyIndices];  // 1 for keys whose case follows CAPS

// A key press (pressed = true) or release of the key with this set-1 scan code.
void KeyEvent(unsigned scan_code, bool pressed);
// The display lost the keyboard focus: no key is held any more.
void ReleaseKeyboard();

// Told of every event that reaches the model, before it acts on it: a key event, or
// ReleaseAllKeys (with pressed false) for ReleaseKeyboard. A recorded session keeps them. Set
// while no key event is under way; null for none.
constexpr unsigned ReleaseAllKeys = 256;
extern void (*KeyboardObserver)(unsigned scan_code, bool pressed);

// For typing text into the machine: the key and the modifiers (with CAPS off) that produce this
// 7-bit ABC80 code, the first match over the plain, shift, control and control+shift planes in
// scan code order. False when no key gives the code.
bool FindKeyForCode(uint8_t code, uint8_t& scan_code, bool& shift, bool& control);
