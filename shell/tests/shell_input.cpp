// The two text and key conversions of the shell, on their own.
#include "shell/decimal_text.h"
#include "shell/scan_code.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(ShellScanCode, EvdevKeysBecomeSet1Codes) {
    constexpr uint32_t X = 8; // X11 key code = evdev code + 8
    const struct {
        uint32_t native;
        unsigned set1;
    } cases[] = {
        {X + 1, 1},            // Esc
        {X + 30, 30},          // A
        {X + 42, 42},          // left Shift
        {X + 54, 54},          // right Shift
        {X + 86, 86},          // < left of Z
        {X + 88, 88},          // F12, the last plain code
        {X + 96, 28},          // keypad Enter -> Enter
        {X + 97, 29},          // right Ctrl -> Ctrl
        {X + 98, 53},          // keypad / -> minus key
        {X + 100, 56},         // right Alt -> Alt
        {X + 102, 71},         // Home
        {X + 103, 72},         // Up
        {X + 105, 75},         // Left
        {X + 106, 77},         // Right
        {X + 108, 80},         // Down
        {X + 111, 83},         // Delete
        {X + 89, 0},           // no set-1 code
        {X + 101, 28},         // Linefeed -> Enter
        {X + 200, 0},  {X, 0}, // evdev 0 is no key
        {0, 0},                // no native code at all
        {5, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Set1ScanCode(c.native), c.set1) << "native " << c.native;
}

TEST(ShellDecimalText, StandardRule) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"", 0},
        {"0", 0},
        {"12", 12},
        {"12abc", 12},
        {"  \t 34", 34},
        {"+56", 56},
        {"-7", -7},
        {"0042", 42},
        {"12 34", 12},
        {"abc", 0},
        {"- 5", 0},
        {"+", 0},
        {"x12", 0},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", INT32_MAX}, // out of range saturates
        {"99999999999999999999", INT32_MAX},
        {"-99999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecimalTextToInt(c.text), c.value) << '"' << c.text << '"';
}
