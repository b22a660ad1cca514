// Typing text into the keyboard model: text to codes, codes to key strokes, and the paced typist.
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
        {"", "", 0},
    };
    for (const auto& c : cases) {
        std::string codes;
        EXPECT_EQ(TextToCodes(c.text, std::char_traits<char>::length(c.text), codes), c.skipped)
            << c.text;
        EXPECT_EQ(codes, c.codes) << c.text;
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

class TypistTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        KeyboardState = {};
    }
    // Steps until the key is down and KEY is raised; returns the steps taken, -1 if never.
    int StepsToPress(Typist& t, int limit = 100) {
        for (int i = 1; i <= limit; ++i) {
            TypistStep(t);
            if (ReadControlFlags() & KEY) return i;
        }
        return -1;
    }
};

// The next key goes down only after the machine accepted the last one (KEY cleared), was held
// and released, and the pause passed; the machine never sees a key it has not taken overwritten.
TEST_F(TypistTest, WaitsForTheMachineToTakeEachKey) {
    Typist t;
    t.pace = {2, 3, 3};
    TypistStart(t, "ab");
    ASSERT_EQ(StepsToPress(t), 1);
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xE1);
    // The processor gets no host time (a busy host, a slow speed): however many steps pass,
    // the key stays down, since the machine's clock has not moved.
    for (int i = 0; i < 5000; ++i)
        EXPECT_TRUE(TypistStep(t));
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xE1);
    ClearControlFlags(KEY); // the interrupt accepted, but the handler has not read port 56 yet
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(TypistStep(t));
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xE1) << "held until the software has read it";
    PortRead(KeyboardPort); // the ROM's keyboard handler
    int held = 0;
    while (ReadInPort(KeyboardPort) & 0x80) {
        ASSERT_TRUE(TypistStep(t));
        ++held;
    }
    EXPECT_EQ(held, 1 + t.pace.hold_steps) << "seen taken, then held";
    EXPECT_EQ(ReadInPort(KeyboardPort), 0x61);
    EXPECT_EQ(StepsToPress(t), t.pace.gap_steps) << "the gap-th step after the release";
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xE2);
    ClearControlFlags(KEY);
    PortRead(KeyboardPort);
    int left = 0;
    while (TypistStep(t))
        ++left;
    EXPECT_EQ(left, t.pace.hold_steps + t.pace.gap_steps) << "the last step ends it";
    EXPECT_EQ(ReadInPort(KeyboardPort), 0x62);
    EXPECT_FALSE(TypistBusy(t));
    EXPECT_EQ(t.not_taken, 0u);
}

// A machine with interrupts off never takes a key: once the processor has taken KeyTakeTicks
// clock ticks with the key down, the typist goes on and counts it, so a paste cannot hang.
TEST_F(TypistTest, GoesOnAfterTheLimit) {
    Typist t;
    t.pace = {1, 1, 1};
    TypistStart(t, "xyz");
    ASSERT_EQ(StepsToPress(t), 1);
    const auto tick = [] { // the clock interrupt, taken while IFF1 stays 0
        SetControlFlags(TICK);
        ProcessorStep();
    };
    for (uint64_t i = 1; i < KeyTakeTicks; ++i) {
        tick();
        ASSERT_TRUE(TypistStep(t));
        ASSERT_EQ(ReadInPort(KeyboardPort), 0xF8) << "still down after tick " << i;
    }
    tick();
    int steps = 0;
    while (TypistStep(t)) {
        tick();
        ASSERT_LT(++steps, 1000);
    }
    EXPECT_EQ(t.not_taken, 3u);
    EXPECT_EQ(ReadInPort(KeyboardPort), 'z');
    EXPECT_EQ(TypistDone(t), 3u);
}

// The same rule for a key pressed by hand: taken only when KEY is cleared and port 56 was read
// since the press, in either order; not taken after the limit in the machine's ticks.
TEST_F(TypistTest, KeyWatchNeedsTheInterruptAndTheRead) {
    const KeyWatch watch = WatchKey();
    SetControlFlags(KEY);
    EXPECT_EQ(CheckKeyTaken(watch), KeyTake::Waiting);
    PortRead(KeyboardPort); // software polling the port with interrupts off
    EXPECT_EQ(CheckKeyTaken(watch), KeyTake::Waiting) << "the interrupt is still pending";
    ClearControlFlags(KEY);
    EXPECT_EQ(CheckKeyTaken(watch), KeyTake::Taken);

    const KeyWatch second = WatchKey();
    EXPECT_EQ(CheckKeyTaken(second), KeyTake::Waiting) << "accepted, but not read yet";
    for (uint64_t i = 0; i < KeyTakeTicks; ++i) {
        EXPECT_EQ(CheckKeyTaken(second), KeyTake::Waiting);
        SetControlFlags(TICK);
        ProcessorStep();
    }
    EXPECT_EQ(CheckKeyTaken(second), KeyTake::NotTaken);
}

TEST_F(TypistTest, EnterGetsItsOwnPause) {
    Typist t;
    t.pace = {1, 1, 7};
    TypistStart(t, "\r1");
    ASSERT_EQ(StepsToPress(t), 1);
    EXPECT_EQ(ReadInPort(KeyboardPort), 0x8D);
    ClearControlFlags(KEY);
    PortRead(KeyboardPort);
    EXPECT_EQ(StepsToPress(t), 1 + 1 + 7) << "seen taken, held, the Enter pause";
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xB1);
}

// Cancel releases a key that is down and restores CAPS; a new start replaces the old text.
TEST_F(TypistTest, CancelReleasesTheKey) {
    KeyboardState.modifiers = CAPS;
    Typist t;
    TypistStart(t, "ab");
    ASSERT_EQ(StepsToPress(t), 1);
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xE1) << "small a although CAPS is on";
    EXPECT_EQ(KeyboardState.held_keys, 1);
    TypistCancel(t);
    EXPECT_FALSE(TypistBusy(t));
    EXPECT_EQ(KeyboardState.held_keys, 0);
    EXPECT_EQ(KeyboardState.modifiers, CAPS);
    EXPECT_FALSE(TypistStep(t));
    ClearControlFlags(KEY);
    TypistStart(t, "Q");
    ASSERT_EQ(StepsToPress(t), 1);
    EXPECT_EQ(ReadInPort(KeyboardPort), 0xD1);
}

} // namespace
