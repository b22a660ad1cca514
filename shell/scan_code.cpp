#include "shell/scan_code.h"

namespace {

constexpr uint32_t EvdevOffset = 8;     // X11 key codes are evdev codes + 8
constexpr uint32_t LastPlainEvdev = 88; // F12

struct ExtendedKey {
    uint32_t evdev;
    uint8_t set1;
};

// Extended keys: set-1 sends E0 and the code of the key they duplicate.
constexpr ExtendedKey ExtendedKeys[] = {
    {96, 28},  // keypad Enter
    {97, 29},  // right Ctrl
    {98, 53},  // keypad /
    {99, 55},  // Print Screen
    {100, 56}, // right Alt (AltGr)
    {101, 28}, // Linefeed: no set-1 key of its own; it acts as Enter
    {102, 71}, // Home
    {103, 72}, // Up
    {104, 73}, // Page Up
    {105, 75}, // Left
    {106, 77}, // Right
    {107, 79}, // End
    {108, 80}, // Down
    {109, 81}, // Page Down
    {110, 82}, // Insert
    {111, 83}, // Delete
    {125, 91}, // left Super
    {126, 92}, // right Super
    {127, 93}, // Menu
};

} // namespace

unsigned Set1ScanCode(uint32_t native_scan_code) {
    if (native_scan_code <= EvdevOffset) return 0;
    uint32_t evdev = native_scan_code - EvdevOffset;
    if (evdev <= LastPlainEvdev) return evdev;
    for (const ExtendedKey& key : ExtendedKeys)
        if (key.evdev == evdev) return key.set1;
    return 0;
}
