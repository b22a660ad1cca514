// Typing text into the keyboard model: text to codes, codes to key strokes, and when the machine
// has taken a key.
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/ports.h"
#include "system/typing.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MachineTyping, TextToCodes) {
    const struct {
        const char* text;
        std::string codes;
        size_t skipped;
    } cases[] = {
        {"PRINT 2+3", "PRINT 2+3", 0},
        {"a\nb\r\nc\rd", "a\rb\rc\rd", 0}, // LF, CRLF and CR are one Enter each
        {"\r\n\r\n", "\r\r", 0},
        {"\n\r", "\r\r", 0},                              // LF then CR: two line ends
        {"\xC3\x85\xC3\xA4\xC3\x96\xC3\xA9", "]{\\`", 0}, // Å ä Ö é
        {"$@[", "$@[", 0},                                // ASCII that the Swedish set replaces
        {"\xC2\xA4", "$", 0},                             // ¤
        {"x\ty", "xy", 1},                                // tab: a control character
        {"\x03\x1B\x7F", "", 3},                          // Ctrl-C, Esc and DEL are never typed
        {"\xE2\x82\xAC 1", " 1", 1},                      // € has no code
        {"\xF0\x9F\x98\x80!", "!", 1},                    // an emoji: one character skipped
        {"a\xFF\xFE"
         "b",
         "ab", 2},       // bytes that are not UTF-8, one each
        {"\xC3", "", 1}, // truncated sequence
        // Typographic forms, as a web page or word processor gives them, become plain ASCII.
        {"\xE2\x80\x9CHi\xE2\x80\x9D \xE2\x80\x98x\xE2\x80\x99", "\"Hi\" 'x'", 0},
        {"it\xE2\x80\x99s 1\xE2\x80\x93"
         "3 \xE2\x80\x94 5\xE2\x88\x92"
         "2",
         "it's 1-3 - 5-2", 0},
        {"A\xC2\xA0"
         "B\xE2\x80\xAF"
         "C\xE2\x80\xA6",
         "A B C...", 0}, // nbsp, narrow nbsp, ...
        {"\xC2\xABja\xC2\xBB \xE2\x80\x9Enej\xE2\x80\x9C", "\"ja\" \"nej\"", 0},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        std::string codes;
        EXPECT_EQ(TextToCodes(c.text, std::char_traits<char>::length(c.text), codes), c.skipped)
            << c.text;
        EXPECT_EQ(codes, c.codes) << c.text;
    }
}

// A script's text: the same grammar with escapes and control characters, and the whole text
// refused, saying why, at the first thing that cannot be typed. Pasted text never has escapes.
TEST(MachineTyping, ScriptTextHasEscapesAndRefusesTheUntypable) {
    const struct {
        const char* text;
        TextSource source;
        std::string codes; // when typed
        const char* error; // part of the refusal, or null
    } cases[] = {
        {"RUN\\r", TextSource::Script, "RUN\r", nullptr},
        {"a\\nb\\tc\\bd\\\\", TextSource::Script, "a\rb\tc\bd\\", nullptr},
        {"\\x03\\x7F\\x5d", TextSource::Script, "\x03\x7F]", nullptr},
        {"x\ty\n", TextSource::Script, "x\ty\r", nullptr}, // raw tab typed; LF is Enter
        {"ab\\", TextSource::Script, "ab\\", nullptr},     // a backslash at the end is itself
        {"\xE2\x80\x9Cq\xE2\x80\x9D \xC3\xA5", TextSource::Script, "\"q\" }", nullptr},
        {"\\x03", TextSource::Typed, "\\x03", nullptr}, // pasted: as it stands
        {"ok\\q", TextSource::Script, "", "unknown escape \\q"},
        {"\\x4", TextSource::Script, "", "two hex digits"},
        {"\\x80", TextSource::Script, "", "no key gives the code 0x80"},
        {"1 \xE2\x82\xAC", TextSource::Script, "", "U+20AC"},
        {"a\xFF", TextSource::Script, "", "byte offset 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string codes, error;
        const size_t result =
            TextToCodes(c.text, std::char_traits<char>::length(c.text), codes, c.source, &error);
        EXPECT_EQ(result, c.error ? 1u : 0u);
        EXPECT_EQ(codes, c.codes);
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

// Every code from space to 0x7E has a key, and pressing it gives exactly that code, whatever
// shift, control and caps the model had before; the model's own modifiers come back afterwards.
TEST(MachineTyping, EveryPrintableCodeTypesItself) {
    for (uint8_t before :
         {uint8_t(0), SHIFT, CONTROL, uint8_t(SHIFT | CONTROL), CAPS, uint8_t(CAPS | SHIFT)}) {
        for (int code = 0x20; code <= 0x7E; ++code) {
            ResetMachineForTest();
            KeyboardState = {};
            KeyboardState.modifiers = before;
            KeyStroke key;
            ASSERT_TRUE(KeyStrokeForCode(uint8_t(code), key)) << code;
            bool toggled = PressKeyStroke(key);
            EXPECT_EQ(ReadInPort(KeyboardPort), code | 0x80)
                << "code " << code << " modifiers " << int(before);
            EXPECT_TRUE(ReadControlFlags() & KEY);
            EXPECT_EQ(KeyboardState.modifiers & (SHIFT | CONTROL), before & (SHIFT | CONTROL));
            ReleaseKeyStroke(key, toggled);
            EXPECT_EQ(ReadInPort(KeyboardPort) & 0x80, 0);
            EXPECT_EQ(KeyboardState.held_keys, 0);
            EXPECT_EQ(KeyboardState.modifiers, before) << "caps back as it was";
        }
    }
}

TEST(MachineTyping, ControlCodesComeFromTheControlPlane) {
    KeyStroke key;
    ASSERT_TRUE(KeyStrokeForCode(0x03, key)); // Ctrl-C
    EXPECT_EQ(key.scan_code, 46);
    EXPECT_TRUE(key.control);
    EXPECT_FALSE(KeyStrokeForCode(0x80, key));
    EXPECT_FALSE(KeyStrokeForCode(0xFF, key));
}

// The same rule for a key pressed by hand: taken only when KEY is cleared and port 56 was read
// since the press, in either order. Past the limit in the machine's ticks a key whose interrupt
// was never accepted is not taken; one accepted but not read yet (the software has no room for it
// now) is still waited for.
TEST(MachineTyping, KeyWatchNeedsTheInterruptAndTheRead) {
    ResetMachineForTest();
    const KeyWatch watch = WatchKey();
    SetControlFlags(KEY);
    EXPECT_EQ(CheckKeyTaken(watch), KeyTake::Waiting);
    PortRead(KeyboardPort); // software polling the port with interrupts off
    EXPECT_EQ(CheckKeyTaken(watch), KeyTake::Waiting) << "the interrupt is still pending";
    ClearControlFlags(KEY);
    EXPECT_EQ(CheckKeyTaken(watch), KeyTake::Taken);

    for (const bool accepted : {true, false}) {
        SCOPED_TRACE(accepted ? "accepted" : "interrupts off");
        ResetMachineForTest();
        const KeyWatch key = WatchKey();
        SetControlFlags(KEY);
        if (accepted) ClearControlFlags(KEY);
        for (uint64_t i = 0; i < 2 * KeyTakeTicks; ++i) {
            if (i < KeyTakeTicks) {
                EXPECT_EQ(CheckKeyTaken(key), KeyTake::Waiting);
            }
            SetControlFlags(TICK);
            ProcessorStep();
        }
        EXPECT_EQ(CheckKeyTaken(key), accepted ? KeyTake::Waiting : KeyTake::NotTaken);
        if (accepted) {
            PortRead(KeyboardPort);
            EXPECT_EQ(CheckKeyTaken(key), KeyTake::Taken) << "read at last";
        }
    }
}

} // namespace
