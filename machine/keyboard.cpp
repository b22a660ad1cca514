#include "machine/keyboard.h"

#include "machine/control.h"
#include "machine/ports.h"

KeyboardRecord KeyboardState;

// Scan code -> key index. Backspace (14) and Left arrow (75) share index 50; the shift, control
// and Caps Lock keys have indices but no codes.
const uint8_t KeyIndexTable[KeyScanCodes] = {
    0,  0,  1,  2,  3,  4,  5,  6,  // 0-7: -, Esc, 1-6
    7,  8,  9,  10, 11, 12, 50, 0,  // 8-15: 7-0, +, acute, Backspace, Tab
    20, 21, 22, 23, 24, 25, 26, 27, // 16-23: Q W E R T Y U I
    28, 29, 30, 31, 32, 37, 38, 39, // 24-31: O P Å diaeresis Enter Ctrl A S
    40, 41, 42, 43, 44, 45, 46, 47, // 32-39: D F G H J K L Ö
    48, 0,  55, 49, 56, 57, 58, 59, // 40-47: Ä § left-Shift apostrophe Z X C V
    60, 61, 62, 63, 64, 65, 66, 0,  // 48-55: B N M , . - right-Shift keypad-*
    0,  74, 19, 0,  0,  0,  0,  0,  // 56-63: Alt Space CapsLock F1-F5
    0,  0,  0,  0,  0,  0,  0,  0,  // 64-71: F6-F10, NumLock, ScrollLock, keypad 7
    0,  0,  0,  50, 0,  67, 0,  0,  // 72-79: keypad 8 9 -, Left, keypad 5, Right, keypad + 1
    0,  0,  0,  0,  0,  0,  13, 0,  // 80-87: keypad 2 3 0 ., -, -, <, F11
    0,  0,  0,  0,  0,  0,  0,  0,  // 88-95
};

// One row per key index: letter (case follows CAPS), plain, shift, control, control+shift.
#define NO 0xFF
#define KEY_ROWS(X)                                                                                \
    X(0, NO, NO, NO, NO)         /*  0 no key */                                                   \
    X(0, 0x31, 0x21, 0x31, 0x21) /*  1 1 ! */                                                      \
    X(0, 0x32, 0x22, 0x32, 0x22) /*  2 2 " */                                                      \
    X(0, 0x33, 0x23, 0x33, 0x23) /*  3 3 # */                                                      \
    X(0, 0x34, 0x24, 0x34, 0x24) /*  4 4 ¤ */                                                     \
    X(0, 0x35, 0x25, 0x35, 0x25) /*  5 5 % */                                                      \
    X(0, 0x36, 0x26, 0x36, 0x26) /*  6 6 & */                                                      \
    X(0, 0x37, 0x2F, 0x37, 0x2F) /*  7 7 / */                                                      \
    X(0, 0x38, 0x28, 0x38, 0x28) /*  8 8 ( */                                                      \
    X(0, 0x39, 0x29, 0x39, 0x29) /*  9 9 ) */                                                      \
    X(0, 0x30, 0x3D, 0x30, 0x3D) /* 10 0 = */                                                      \
    X(0, 0x2B, 0x3F, 0x2B, 0x3F) /* 11 + ? */                                                      \
    X(1, 0x60, 0x40, 0x00, 0x00) /* 12 acute: é É */                                             \
    X(0, 0x3C, 0x3E, 0x7F, 0x7F) /* 13 < > */                                                      \
    X(0, NO, NO, NO, NO)         /* 14 */                                                          \
    X(0, NO, NO, NO, NO)         /* 15 */                                                          \
    X(0, NO, NO, NO, NO)         /* 16 */                                                          \
    X(0, NO, NO, NO, NO)         /* 17 */                                                          \
    X(0, NO, NO, NO, NO)         /* 18 */                                                          \
    X(0, NO, NO, NO, NO)         /* 19 Caps Lock */                                                \
    X(1, 0x71, 0x51, 0x11, 0x11) /* 20 Q */                                                        \
    X(1, 0x77, 0x57, 0x17, 0x17) /* 21 W */                                                        \
    X(1, 0x65, 0x45, 0x05, 0x05) /* 22 E */                                                        \
    X(1, 0x72, 0x52, 0x12, 0x12) /* 23 R */                                                        \
    X(1, 0x74, 0x54, 0x14, 0x14) /* 24 T */                                                        \
    X(1, 0x79, 0x59, 0x19, 0x19) /* 25 Y */                                                        \
    X(1, 0x75, 0x55, 0x15, 0x15) /* 26 U */                                                        \
    X(1, 0x69, 0x49, 0x09, 0x09) /* 27 I */                                                        \
    X(1, 0x6F, 0x4F, 0x0F, 0x1F) /* 28 O */                                                        \
    X(1, 0x70, 0x50, 0x10, 0x00) /* 29 P */                                                        \
    X(1, 0x7D, 0x5D, 0x1D, 0x1D) /* 30 å Å */                                                    \
    X(1, 0x7E, 0x5E, 0x1E, 0x1E) /* 31 diaeresis: ü Ü */                                         \
    X(0, 0x0D, 0x0D, 0x0D, 0x0D) /* 32 Enter */                                                    \
    X(0, NO, NO, NO, NO)         /* 33 */                                                          \
    X(0, NO, NO, NO, NO)         /* 34 */                                                          \
    X(0, NO, NO, NO, NO)         /* 35 */                                                          \
    X(0, NO, NO, NO, NO)         /* 36 */                                                          \
    X(0, NO, NO, NO, NO)         /* 37 Ctrl */                                                     \
    X(1, 0x61, 0x41, 0x01, 0x01) /* 38 A */                                                        \
    X(1, 0x73, 0x53, 0x13, 0x13) /* 39 S */                                                        \
    X(1, 0x64, 0x44, 0x04, 0x04) /* 40 D */                                                        \
    X(1, 0x66, 0x46, 0x06, 0x06) /* 41 F */                                                        \
    X(1, 0x67, 0x47, 0x07, 0x07) /* 42 G */                                                        \
    X(1, 0x68, 0x48, 0x08, 0x08) /* 43 H */                                                        \
    X(1, 0x6A, 0x4A, 0x0A, 0x0A) /* 44 J */                                                        \
    X(1, 0x6B, 0x4B, 0x0B, 0x1B) /* 45 K */                                                        \
    X(1, 0x6C, 0x4C, 0x0C, 0x1C) /* 46 L */                                                        \
    X(1, 0x7C, 0x5C, 0x1C, 0x1C) /* 47 ö Ö */                                                    \
    X(1, 0x7B, 0x5B, 0x1B, 0x1B) /* 48 ä Ä */                                                    \
    X(0, 0x27, 0x2A, 0x27, 0x2A) /* 49 ' * */                                                      \
    X(0, 0x08, 0x08, 0x08, 0x08) /* 50 Backspace, Left */                                          \
    X(0, NO, NO, NO, NO)         /* 51 */                                                          \
    X(0, NO, NO, NO, NO)         /* 52 */                                                          \
    X(0, NO, NO, NO, NO)         /* 53 */                                                          \
    X(0, NO, NO, NO, NO)         /* 54 */                                                          \
    X(0, NO, NO, NO, NO)         /* 55 left Shift */                                               \
    X(1, 0x7A, 0x5A, 0x1A, 0x1A) /* 56 Z */                                                        \
    X(1, 0x78, 0x58, 0x18, 0x18) /* 57 X */                                                        \
    X(1, 0x63, 0x43, 0x03, 0x03) /* 58 C */                                                        \
    X(1, 0x76, 0x56, 0x16, 0x16) /* 59 V */                                                        \
    X(1, 0x62, 0x42, 0x02, 0x02) /* 60 B */                                                        \
    X(1, 0x6E, 0x4E, 0x0E, 0x1E) /* 61 N */                                                        \
    X(1, 0x6D, 0x4D, 0x0D, 0x1D) /* 62 M */                                                        \
    X(0, 0x2C, 0x3B, 0x2C, 0x3B) /* 63 , ; */                                                      \
    X(0, 0x2E, 0x3A, 0x2E, 0x3A) /* 64 . : */                                                      \
    X(0, 0x2D, 0x5F, 0x2D, 0x5F) /* 65 - _ */                                                      \
    X(0, NO, NO, NO, NO)         /* 66 right Shift */                                              \
    X(0, 0x09, 0x09, 0x09, 0x09) /* 67 Right */                                                    \
    X(0, NO, NO, NO, NO)         /* 68 */                                                          \
    X(0, NO, NO, NO, NO)         /* 69 */                                                          \
    X(0, NO, NO, NO, NO)         /* 70 */                                                          \
    X(0, NO, NO, NO, NO)         /* 71 */                                                          \
    X(0, NO, NO, NO, NO)         /* 72 */                                                          \
    X(0, NO, NO, NO, NO)         /* 73 */                                                          \
    X(0, 0x20, 0x20, 0x20, 0x20) /* 74 Space */

#define LETTER(l, p, s, c, cs)          l,
#define PLAIN(l, p, s, c, cs)           p,
#define SHIFTED(l, p, s, c, cs)         s,
#define CONTROLLED(l, p, s, c, cs)      c,
#define CONTROL_SHIFTED(l, p, s, c, cs) cs,

const uint8_t KeyCodeTable[4][KeyIndices] = {
    {KEY_ROWS(PLAIN)},
    {KEY_ROWS(SHIFTED)},
    {KEY_ROWS(CONTROLLED)},
    {KEY_ROWS(CONTROL_SHIFTED)},
};
const uint8_t LetterKeyTable[KeyIndices] = {KEY_ROWS(LETTER)};

#undef LETTER
#undef PLAIN
#undef SHIFTED
#undef CONTROLLED
#undef CONTROL_SHIFTED
#undef KEY_ROWS
#undef NO

constexpr unsigned LeftShiftScanCode = 42;
constexpr unsigned RightShiftScanCode = 54;
constexpr unsigned ControlScanCode = 29;
constexpr uint8_t CapsLockIndex = 19;
constexpr uint8_t KeyDown = 0x80;

void (*KeyboardObserver)(unsigned scan_code, bool pressed) = nullptr;

void KeyEvent(unsigned scan_code, bool pressed) {
    if (KeyboardObserver) KeyboardObserver(scan_code, pressed);
    KeyboardRecord& kb = KeyboardState;
    // Either shift key sets or clears both shift bits, even while the other is still down.
    if (scan_code == LeftShiftScanCode || scan_code == RightShiftScanCode)
        kb.modifiers = uint8_t((kb.modifiers & ~SHIFT) | (pressed ? SHIFT : 0));
    if (scan_code == ControlScanCode)
        kb.modifiers = uint8_t((kb.modifiers & ~CONTROL) | (pressed ? CONTROL : 0));
    if (scan_code >= KeyScanCodes) return;
    uint8_t k = KeyIndexTable[scan_code];
    if (k == 0) return;

    // Caps Lock shows the new case of the last letter in port 56 at once, without an interrupt.
    if (k == CapsLockIndex && pressed) {
        kb.modifiers ^= CAPS;
        if (kb.caps_applies == 1)
            WriteInPort(KeyboardPort,
                        uint8_t((kb.key_code & ~0x20) | ((kb.modifiers & CAPS) ? 0 : 0x20)));
    }
    if (KeyCodeTable[PlanePlain][k] & 0x80) return; // modifiers and Caps Lock are not counted

    if (pressed) {
        if (kb.held_keys < INT8_MAX) ++kb.held_keys;
        kb.caps_applies = (kb.modifiers & (SHIFT | CONTROL)) == 0 ? LetterKeyTable[k] : 0;
        bool shifted = (kb.modifiers & SHIFT) || ((kb.modifiers & CAPS) && LetterKeyTable[k]);
        int plane = shifted ? PlaneShift : PlanePlain;
        if (kb.modifiers & CONTROL) plane += PlaneControl;
        kb.key_code = KeyCodeTable[plane][k] | KeyDown;
        // Code and bus byte first: once the processor sees KEY it also sees them.
        WriteInPort(KeyboardPort, kb.key_code);
        WriteInterruptBusByte(KeyboardBusByte);
        SetControlFlags(KEY);
        return;
    }
    --kb.held_keys;
    if (kb.held_keys > 0) {
        WriteInPort(KeyboardPort, kb.key_code);
    } else {
        kb.held_keys = 0;
        kb.key_code &= ~KeyDown;
        WriteInPort(KeyboardPort, kb.key_code);
    }
}

void ReleaseKeyboard() {
    if (KeyboardObserver) KeyboardObserver(ReleaseAllKeys, false);
    KeyboardState.held_keys = 0;
    KeyboardState.key_code &= ~KeyDown;
    WriteInPort(KeyboardPort, KeyboardState.key_code);
}

bool FindKeyForCode(uint8_t code, uint8_t& scan_code, bool& shift, bool& control) {
    if (code & KeyDown) return false; // the tables use 0xFF for no code
    for (int plane = PlanePlain; plane <= PlaneControlShift; ++plane) {
        for (unsigned s = 0; s < KeyScanCodes; ++s) {
            uint8_t k = KeyIndexTable[s];
            if (k == 0 || KeyCodeTable[plane][k] != code) continue;
            scan_code = uint8_t(s);
            shift = plane == PlaneShift || plane == PlaneControlShift;
            control = plane >= PlaneControl;
            return true;
        }
    }
    return false;
}
