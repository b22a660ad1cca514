// The keyboard model: scan codes to ABC80 codes in port 56, the key interrupt request, modifiers.
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/ports.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// Set-1 scan codes used below.
constexpr unsigned Esc = 1, One = 2, Backspace = 14, Tab = 15, O = 24, Ctrl = 29, A = 30,
                   LShift = 42, B = 48, RShift = 54, Alt = 56, Caps = 58, F1 = 59, Up = 72,
                   Left = 75, Down = 80, Less = 86, F12 = 88;

void ResetKeyboard() {
    ResetMachineForTest();
    KeyboardState = KeyboardRecord{};
}

// True when the last event asked for the key interrupt; the request is cleared for the next one.
bool TakeKeyRequest() {
    bool raised = ReadControlFlags() & KEY;
    ClearControlFlags(KEY);
    return raised;
}

uint8_t Type(unsigned scan, bool shift, bool control) {
    if (shift) KeyEvent(LShift, true);
    if (control) KeyEvent(Ctrl, true);
    KeyEvent(scan, true);
    uint8_t code = ReadInPort(KeyboardPort);
    KeyEvent(scan, false);
    if (control) KeyEvent(Ctrl, false);
    if (shift) KeyEvent(LShift, false);
    return code;
}

// Rows of the Swedish layout: scan code, letter key, plain, shift, control, control+shift.
struct LayoutRow {
    unsigned scan;
    bool letter;
    uint8_t plain, shift, control, control_shift;
};
const LayoutRow Layout[] = {
    {2, 0, 0x31, 0x21, 0x31, 0x21},  {3, 0, 0x32, 0x22, 0x32, 0x22},
    {5, 0, 0x34, 0x24, 0x34, 0x24},  {8, 0, 0x37, 0x2F, 0x37, 0x2F},
    {11, 0, 0x30, 0x3D, 0x30, 0x3D}, {12, 0, 0x2B, 0x3F, 0x2B, 0x3F},
    {13, 1, 0x60, 0x40, 0x00, 0x00}, {14, 0, 0x08, 0x08, 0x08, 0x08},
    {16, 1, 0x71, 0x51, 0x11, 0x11}, {18, 1, 0x65, 0x45, 0x05, 0x05},
    {23, 1, 0x69, 0x49, 0x09, 0x09}, {24, 1, 0x6F, 0x4F, 0x0F, 0x1F},
    {25, 1, 0x70, 0x50, 0x10, 0x00}, {26, 1, 0x7D, 0x5D, 0x1D, 0x1D},
    {27, 1, 0x7E, 0x5E, 0x1E, 0x1E}, {28, 0, 0x0D, 0x0D, 0x0D, 0x0D},
    {30, 1, 0x61, 0x41, 0x01, 0x01}, {35, 1, 0x68, 0x48, 0x08, 0x08},
    {37, 1, 0x6B, 0x4B, 0x0B, 0x1B}, {38, 1, 0x6C, 0x4C, 0x0C, 0x1C},
    {39, 1, 0x7C, 0x5C, 0x1C, 0x1C}, {40, 1, 0x7B, 0x5B, 0x1B, 0x1B},
    {43, 0, 0x27, 0x2A, 0x27, 0x2A}, {44, 1, 0x7A, 0x5A, 0x1A, 0x1A},
    {46, 1, 0x63, 0x43, 0x03, 0x03}, {48, 1, 0x62, 0x42, 0x02, 0x02},
    {49, 1, 0x6E, 0x4E, 0x0E, 0x1E}, {50, 1, 0x6D, 0x4D, 0x0D, 0x1D},
    {51, 0, 0x2C, 0x3B, 0x2C, 0x3B}, {52, 0, 0x2E, 0x3A, 0x2E, 0x3A},
    {53, 0, 0x2D, 0x5F, 0x2D, 0x5F}, {57, 0, 0x20, 0x20, 0x20, 0x20},
    {75, 0, 0x08, 0x08, 0x08, 0x08}, {77, 0, 0x09, 0x09, 0x09, 0x09},
    {86, 0, 0x3C, 0x3E, 0x7F, 0x7F},
};

TEST(Keyboard, LayoutInEveryPlaneWithAndWithoutCaps) {
    for (const LayoutRow& row : Layout) {
        SCOPED_TRACE(row.scan);
        ResetKeyboard();
        EXPECT_EQ(Type(row.scan, false, false), row.plain | 0x80);
        EXPECT_EQ(ReadInPort(KeyboardPort), row.plain);
        EXPECT_EQ(Type(row.scan, true, false), row.shift | 0x80);
        EXPECT_EQ(Type(row.scan, false, true), row.control | 0x80);
        EXPECT_EQ(Type(row.scan, true, true), row.control_shift | 0x80);
        // Caps acts as a held shift on letter keys only, also under control.
        KeyEvent(Caps, true);
        KeyEvent(Caps, false);
        EXPECT_EQ(Type(row.scan, false, false), (row.letter ? row.shift : row.plain) | 0x80);
        EXPECT_EQ(Type(row.scan, true, false), row.shift | 0x80);
        EXPECT_EQ(Type(row.scan, false, true),
                  (row.letter ? row.control_shift : row.control) | 0x80);
        EXPECT_EQ(KeyboardState.held_keys, 0);
    }
}

TEST(Keyboard, TablesHaveTheKeysOfTheLayoutAndNoOthers) {
    auto in = [](int k, std::initializer_list<std::pair<int, int>> ranges) {
        for (auto [lo, hi] : ranges)
            if (k >= lo && k <= hi) return true;
        return false;
    };
    for (int k = 0; k < KeyIndices; ++k) {
        SCOPED_TRACE(k);
        bool no_key = in(k, {{0, 0}, {14, 19}, {33, 37}, {51, 55}, {66, 66}, {68, 73}});
        for (int plane = 0; plane < 4; ++plane) {
            if (no_key) {
                EXPECT_EQ(KeyCodeTable[plane][k], 0xFF);
            } else {
                EXPECT_LT(KeyCodeTable[plane][k], 0x80);
            }
        }
        EXPECT_EQ(LetterKeyTable[k], in(k, {{12, 12}, {20, 31}, {38, 48}, {56, 62}}) ? 1 : 0);
    }
    const unsigned no_key_scans[] = {0,  1,  15, 41, 55, 56, 59, 68, 69, 70, 71,
                                     72, 73, 74, 76, 78, 83, 84, 85, 87, 95};
    for (unsigned s : no_key_scans)
        EXPECT_EQ(KeyIndexTable[s], 0) << s;
    EXPECT_EQ(KeyIndexTable[Caps], 19);
    EXPECT_EQ(KeyIndexTable[Backspace], KeyIndexTable[Left]);
}

// One event and what it leaves: port 56, whether KEY was requested, the held-key count.
struct Step {
    unsigned scan; // Release: ReleaseKeyboard() (focus lost)
    bool pressed;
    uint8_t port56;
    bool key_request;
    int held;
};
constexpr unsigned FocusLost = 1000;

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

TEST(Keyboard, EventSequences) {
    const Scenario scenarios[] = {
        {"A at start", {{A, 1, 0xE1, 1, 1}, {A, 0, 0x61, 0, 0}}},
        {"shift A",
         {{LShift, 1, 0x00, 0, 0},
          {A, 1, 0xC1, 1, 1},
          {A, 0, 0x41, 0, 0},
          {LShift, 0, 0x41, 0, 0}}},
        {"caps A", {{Caps, 1, 0x00, 0, 0}, {Caps, 0, 0x00, 0, 0}, {A, 1, 0xC1, 1, 1}}},
        {"caps shift A", {{Caps, 1, 0x00, 0, 0}, {LShift, 1, 0x00, 0, 0}, {A, 1, 0xC1, 1, 1}}},
        {"caps 1", {{Caps, 1, 0x00, 0, 0}, {One, 1, 0xB1, 1, 1}}},
        {"ctrl O, ctrl shift O",
         {{Ctrl, 1, 0x00, 0, 0},
          {O, 1, 0x8F, 1, 1},
          {O, 0, 0x0F, 0, 0},
          {RShift, 1, 0x0F, 0, 0},
          {O, 1, 0x9F, 1, 1}}},
        {"caps ctrl O", {{Caps, 1, 0x00, 0, 0}, {Ctrl, 1, 0x00, 0, 0}, {O, 1, 0x9F, 1, 1}}},
        {"A B, release A then B",
         {{A, 1, 0xE1, 1, 1}, {B, 1, 0xE2, 1, 2}, {A, 0, 0xE2, 0, 1}, {B, 0, 0x62, 0, 0}}},
        {"A B, release B then A",
         {{A, 1, 0xE1, 1, 1}, {B, 1, 0xE2, 1, 2}, {B, 0, 0xE2, 0, 1}, {A, 0, 0x62, 0, 0}}},
        {"caps while A held",
         {{A, 1, 0xE1, 1, 1}, {Caps, 1, 0xC1, 0, 1}, {Caps, 0, 0xC1, 0, 1}, {A, 0, 0x61, 0, 0}}},
        {"caps after a letter",
         {{A, 1, 0xE1, 1, 1},
          {A, 0, 0x61, 0, 0},
          {Caps, 1, 0x41, 0, 0},
          {Caps, 0, 0x41, 0, 0},
          {Caps, 1, 0x61, 0, 0}}},
        {"caps after shifted letter",
         {{LShift, 1, 0, 0, 0},
          {A, 1, 0xC1, 1, 1},
          {A, 0, 0x41, 0, 0},
          {LShift, 0, 0x41, 0, 0},
          {Caps, 1, 0x41, 0, 0}}},
        {"caps after control letter",
         {{Ctrl, 1, 0, 0, 0},
          {A, 1, 0x81, 1, 1},
          {A, 0, 0x01, 0, 0},
          {Ctrl, 0, 0x01, 0, 0},
          {Caps, 1, 0x01, 0, 0},
          {Caps, 0, 0x01, 0, 0},
          {Caps, 1, 0x01, 0, 0}}},
        {"caps after a digit", {{One, 1, 0xB1, 1, 1}, {One, 0, 0x31, 0, 0}, {Caps, 1, 0x31, 0, 0}}},
        {"keys without a code",
         {{A, 1, 0xE1, 1, 1},
          {Esc, 1, 0xE1, 0, 1},
          {Tab, 1, 0xE1, 0, 1},
          {F1, 1, 0xE1, 0, 1},
          {F12, 1, 0xE1, 0, 1},
          {Alt, 1, 0xE1, 0, 1},
          {Up, 1, 0xE1, 0, 1},
          {Down, 1, 0xE1, 0, 1},
          {0, 1, 0xE1, 0, 1},
          {96, 1, 0xE1, 0, 1},
          {255, 1, 0xE1, 0, 1},
          {Esc, 0, 0xE1, 0, 1},
          {Up, 0, 0xE1, 0, 1}}},
        {"both shifts, one released",
         {{LShift, 1, 0, 0, 0}, {RShift, 1, 0, 0, 0}, {RShift, 0, 0, 0, 0}, {A, 1, 0xE1, 1, 1}}},
        {"focus lost while A held",
         {{A, 1, 0xE1, 1, 1}, {FocusLost, 0, 0x61, 0, 0}, {A, 0, 0x61, 0, 0}, {B, 1, 0xE2, 1, 1}}},
        {"release without press", {{A, 0, 0x00, 0, 0}, {A, 1, 0xE1, 1, 1}}},
        {"ctrl <, backspace, left",
         {{Ctrl, 1, 0, 0, 0},
          {Less, 1, 0xFF, 1, 1},
          {Ctrl, 0, 0xFF, 0, 1},
          {Backspace, 1, 0x88, 1, 2},
          {Left, 1, 0x88, 1, 3}}},
    };
    for (const Scenario& scenario : scenarios) {
        ResetKeyboard();
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            SCOPED_TRACE(testing::Message() << scenario.name << ", step " << i);
            if (step.scan == FocusLost)
                ReleaseKeyboard();
            else
                KeyEvent(step.scan, step.pressed);
            EXPECT_EQ(ReadInPort(KeyboardPort), step.port56);
            EXPECT_EQ(KeyboardState.held_keys, step.held);
            bool raised = TakeKeyRequest();
            EXPECT_EQ(raised, step.key_request);
            if (raised) {
                EXPECT_EQ(ReadInterruptBusByte(), 26);
            }
        }
    }
}

TEST(Keyboard, CapsKeepsTheHeldKeyCodeAndModifiersSurviveFocusLoss) {
    ResetKeyboard();
    KeyEvent(A, true);
    KeyEvent(Caps, true);
    EXPECT_EQ(KeyboardState.key_code, 0xE1); // only port 56 shows the new case
    KeyEvent(LShift, true);
    KeyEvent(Ctrl, true);
    ReleaseKeyboard();
    EXPECT_EQ(KeyboardState.modifiers, SHIFT | CONTROL | CAPS);
    EXPECT_EQ(KeyboardState.caps_applies, 1);
}

TEST(Keyboard, FindKeyForCodeGivesTheKeyThatTypesTheCode) {
    bool typeable[0x80] = {};
    for (int plane = 0; plane < 4; ++plane)
        for (int k = 0; k < KeyIndices; ++k)
            if (KeyCodeTable[plane][k] < 0x80) typeable[KeyCodeTable[plane][k]] = true;
    for (int code = 0; code < 0x80; ++code) {
        uint8_t scan = 0;
        bool shift = false, control = false;
        bool found = FindKeyForCode(uint8_t(code), scan, shift, control);
        EXPECT_EQ(found, typeable[code]) << code;
        if (!found) continue;
        ResetKeyboard();
        EXPECT_EQ(Type(scan, shift, control), code | 0x80) << code;
    }

    struct Expect {
        uint8_t code, scan;
        bool shift, control;
    };
    const Expect firsts[] = {{'a', A, 0, 0},     {'A', A, 1, 0},   {0x08, Backspace, 0, 0},
                             {0x7F, Less, 0, 1}, {0x00, 13, 0, 1}, {0x1F, O, 1, 1},
                             {0x5B, 40, 1, 0},   {' ', 57, 0, 0}};
    for (const Expect& e : firsts) {
        uint8_t scan = 0;
        bool shift = true, control = true;
        ASSERT_TRUE(FindKeyForCode(e.code, scan, shift, control)) << int(e.code);
        EXPECT_EQ(scan, e.scan) << int(e.code);
        EXPECT_EQ(shift, e.shift) << int(e.code);
        EXPECT_EQ(control, e.control) << int(e.code);
    }
    uint8_t scan;
    bool shift, control;
    EXPECT_FALSE(FindKeyForCode(0x80, scan, shift, control));
    EXPECT_FALSE(FindKeyForCode(0xFF, scan, shift, control));
}

} // namespace
