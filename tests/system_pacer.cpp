// The key pacer seen from the machine: a small program whose keyboard interrupt records every code
// it reads from port 56, the way a ROM's keyboard handler does. What it records is what the user
// would have seen typed.
#include "cpu/cpu_state.h"
#include "host/settings.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "system/pacer.h"
#include "system/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

constexpr uint16_t Buffer = 0x9000;

// IM 1; the handler at 0x0038 stores the port 56 code at (HL) and moves on; the NMI returns at
// once. The main loop runs with interrupts on, or off when `interrupts` is false.
void LoadRecorder(bool interrupts = true) {
    ResetMachineForTest();
    KeyboardState = {};
    PacerReset();
    LoadCode(0x0038, {0xF5, 0xDB, 0x38, 0x77, 0x23, 0xF1, 0xFB, 0xC9});
    LoadCode(0x0066, {0xED, 0x45});
    LoadCode(0x0100, {0xED, 0x56, uint8_t(interrupts ? 0xFB : 0xF3), 0x18, 0xFE});
    CpuState.SP = 0xF000;
    CpuState.HL = Buffer;
}

// The codes the machine took, bit 7 (key down) stripped; 0xFF ends the buffer.
std::string Recorded() {
    std::string codes;
    for (uint16_t a = Buffer; ReadMemoryShared(a) != 0xFF; ++a)
        codes.push_back(char(ReadMemoryShared(a) & 0x7F));
    return codes;
}

// Runs deterministic ticks until the pacer has nothing left (with a generous limit).
void RunUntilIdle(long instructions = 40000) {
    for (int i = 0; i < 20000 && PacerBusy(); ++i)
        ASSERT_TRUE(SystemRunTick(instructions));
    ASSERT_FALSE(PacerBusy());
}

void Natural(uint32_t host, char c, bool release = true) {
    KeyStroke key;
    ASSERT_TRUE(KeyStrokeForCode(uint8_t(c), key));
    PacerNaturalPress(host, key);
    if (release) PacerNaturalRelease(host);
}

// Natural keys as the window and the page hand them over: a printable character is the ABC80 key
// that gives it, whatever the host key; without one (or with Ctrl) the key goes by its place.
TEST(SystemPacer, NaturalKeysGoByCharacterThenByPlace) {
    const struct {
        const char* what;
        uint32_t character;
        unsigned scan_code;
        bool shift, control;
        const char* typed; // the code the machine reads, or "" for none
    } cases[] = {
        {"a letter", 'x', 45, false, false, "x"},
        {"shifted on a US layout", '"', 40, true, false, "\""},
        {"dollar is the currency sign's code", '$', 5, true, false, "$"},
        {"a Swedish letter from a dead key's composition", 0xC5, 26, true, false, "]"},
        {"Enter has no character", 0, 28, false, false, "\r"},
        {"Ctrl+C goes by place", 'c', 46, false, true, "\x03"},
        {"a character the ABC80 lacks", 0x20AC, 18, false, false, ""},
        {"DEL is no character", 0x7F, 83, false, false, ""},
        {"shift alone", 0, ScanLeftShift, true, false, ""},
        {"a key with no code", 0, 88, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoadRecorder();
        EXPECT_EQ(PacerNaturalKey(30, c.character, c.scan_code, c.shift, c.control), *c.typed != 0);
        PacerNaturalRelease(30);
        RunUntilIdle();
        EXPECT_EQ(Recorded(), c.typed);
    }
    EXPECT_FALSE(PacerNaturalKey(PacerHostKeys, 'x', 45, false, false)) << "no such host key";
}

// The typing status the window shows, as the pacer reports it: the text under way, then once what
// became of it; keys the machine did not take are added to the end.
TEST(SystemPacer, TypingStatusSaysWhatBecameOfEachText) {
    LoadRecorder();
    EXPECT_EQ(PacerTypingStatus("Esc").text, "");
    PacerType("AB\r", "Paste", 2);
    Natural(40, 'x');
    PacerTypingReport r = PacerTypingStatus("Esc");
    EXPECT_TRUE(r.typing);
    EXPECT_EQ(r.text, "Paste: 0 of 3 characters (Esc), 1 typed keys waiting");
    RunUntilIdle();
    r = PacerTypingStatus("Esc");
    EXPECT_FALSE(r.typing);
    EXPECT_EQ(r.text, "Paste: typed 3 characters, skipped 2 with no ABC80 character");
    EXPECT_EQ(PacerTypingStatus("Esc").text, "") << "said once";

    PacerType("HELLO", "F.BAS");
    PacerType("RUN\r", "RUN");
    for (int i = 0; i < 1000 && PacerReadStatus().text_done < 2; ++i)
        ASSERT_TRUE(SystemRunTick(100));
    const size_t done = PacerReadStatus().text_done;
    ASSERT_TRUE(done >= 2 && done < 5) << done;
    PacerCancelText();
    EXPECT_EQ(PacerTypingStatus().text,
              "F.BAS: cancelled after " + std::to_string(done) + " of 5 characters");
    RunUntilIdle();

    // Restored texts have no label of their own.
    PacerType("12345", "Paste");
    const PacerSnapshot saved = PacerSave();
    PacerReset();
    PacerRestore(saved);
    EXPECT_EQ(PacerTypingStatus().text, "Text from the state: 0 of 5 characters");

    LoadRecorder(false); // interrupts off: no key is taken
    PacerType("A", "K");
    RunUntilIdle();
    EXPECT_EQ(PacerTypingStatus().text, "K: typed 1 characters, 1 not taken by the machine");
}

// Text, natural keys and positional keys (with their shift) arrive in the order given, none lost,
// at full speed and at a real ABC80's pace.
TEST(SystemPacer, EveryKindOfKeyArrivesInOrder) {
    for (int32_t waitstates : {0, -1}) {
        LoadRecorder();
        SetWaitstates(waitstates);
        PacerType("HELLO 1\r");
        Natural(20, 'x');
        PacerNaturalRelease(99); // a release whose press never came lets go of nothing
        PacerType("2+3");
        PacerPositional(ScanLeftShift, true);
        PacerPositional(30, true); // A
        PacerPositional(30, false);
        PacerPositional(ScanLeftShift, false);
        Natural(21, '"');
        RunUntilIdle();
        EXPECT_EQ(Recorded(), "HELLO 1\rx2+3A\"") << "waitstates " << waitstates;
        EXPECT_EQ(ReadInPort(KeyboardPort) & 0x80, 0) << "no key left down";
        EXPECT_EQ(KeyboardState.modifiers & (SHIFT | CONTROL), 0);
        const PacerStatus s = PacerReadStatus();
        EXPECT_EQ(s.texts_finished, 2u);
        EXPECT_EQ(s.not_taken + s.dropped, 0u);
    }
}

// Keys typed while a long text is typed wait behind it; Esc drops the texts and the keys arrive at
// once.
TEST(SystemPacer, CancelDropsTheTextsOnly) {
    LoadRecorder();
    const std::string text(1 << 20, 'q'); // a 1 MB paste
    PacerType(text);
    PacerType("SECOND TEXT");
    while (PacerReadStatus().text_done < 5)
        ASSERT_TRUE(SystemRunTick(1000));
    Natural(30, 'z');
    Natural(31, 'y');
    PacerCancelText();
    RunUntilIdle();
    const std::string got = Recorded();
    ASSERT_GE(got.size(), 6u);
    EXPECT_LT(got.size(), 100u);
    EXPECT_EQ(got.find_first_not_of('q'), got.size() - 2);
    EXPECT_EQ(got.substr(got.size() - 2), "zy");
    EXPECT_EQ(PacerReadStatus().texts_cancelled, 1u);
}

// Focus lost, a menu or a dialog opened while keys are held and queued: every queued key still
// arrives, and nothing stays down.
TEST(SystemPacer, ReleasingHeldKeysKeepsTheQueue) {
    LoadRecorder();
    Natural(10, 'a', false);
    Natural(11, 'b', false);
    Natural(12, 'c', false);
    PacerPositional(ScanLeftShift, true);
    PacerReleaseHeld();
    RunUntilIdle();
    EXPECT_EQ(Recorded(), "abc");
    EXPECT_EQ(ReadInPort(KeyboardPort) & 0x80, 0);
}

// A program that keeps interrupts off never takes a key: the pacer goes on after the machine's
// half second and counts the keys, so typing never hangs.
TEST(SystemPacer, KeysNotTakenAreCountedNotWaitedForEver) {
    LoadRecorder(false);
    PacerType("ab");
    RunUntilIdle();
    EXPECT_EQ(Recorded(), "");
    EXPECT_EQ(PacerReadStatus().not_taken, 2u);
}

// A machine that accepts the keyboard interrupt but leaves the key in the port (a BASIC busy with
// its queue full) keeps it waiting for as long as it is busy, and it counts as taken once read.
// A reset drops the interrupt and starts the software afresh: a key waiting then is given up.
TEST(SystemPacer, AcceptedKeysWaitUntilReadOrReset) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "read later");
        LoadRecorder();
        LoadCode(0x0038, {0xFB, 0xED, 0x4D});             // EI, RETI: the port stays unread
        LoadCode(0x0100, {0xED, 0x56, 0xFB, 0x18, 0xFE}); // IM 1, EI, JR $
        KeyStroke key;
        ASSERT_TRUE(KeyStrokeForCode('a', key));
        PacerStroke(key);
        for (int i = 0; i < 200; ++i)
            ASSERT_TRUE(SystemRunTick(40000));
        EXPECT_TRUE(PacerBusy()) << "given up while the machine was busy";
        if (reset) {
            SystemReset();
        } else {
            MachineMemory[0x0103] = 0xDB; // the loop now reads port 56: IN A,(56), JR $
            MachineMemory[0x0104] = 0x38;
            MachineMemory[0x0105] = 0x18;
            MachineMemory[0x0106] = 0xFE;
        }
        RunUntilIdle();
        EXPECT_EQ(PacerReadStatus().not_taken, reset ? 1u : 0u);
    }
}

// The threaded machine: the clock thread steps the pacer; a long text at full speed arrives whole
// and in order. (How fast is the benchmark's business.)
TEST(SystemPacerThread, TextArrivesWholeThroughTheClockThread) {
    LoadRecorder();
    std::string text;
    for (int i = 0; i < 400; ++i)
        text.push_back(char('A' + i % 26));
    PacerType(text);
    Natural(40, '!');
    SystemStart(nullptr, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (PacerBusy() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SystemStop();
    EXPECT_EQ(Recorded(), text + "!");
}

} // namespace
