// Host key identifiers to PC set-1 scan codes, which the keyboard model's tables are indexed by.
#pragma once

#include <cstdint>

// Under X11 (xcb) and Wayland a key's native scan code is its Linux evdev code + 8. Evdev codes
// 1-88 are the set-1 codes themselves; the extended keys (keypad Enter, right Ctrl, keypad /,
// the navigation block) become the set-1 code they share with the base key, the E0 prefix
// dropped. Returns 0 for a key that has no set-1 code.
unsigned Set1ScanCode(uint32_t native_scan_code);
