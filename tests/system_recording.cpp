// A session recorded while the machine's threads run (keys pressed from the processor's thread)
// plays back on them, in the window's way (SystemPlay), to the same keys taken at the same
// T-states; keys handed in during the replay wait for nothing and go nowhere.
#include "cpu/processor.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "system/debugger.h"
#include "system/pacer.h"
#include "system/recording.h"
#include "system/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

constexpr uint16_t Buffer = 0x8000;

// IM 1: each keyboard interrupt stores port 56 at HL and moves on; the main loop spins.
void LoadRecorder() {
    ResetMachineForTest();
    KeyboardState = {};
    PacerReset();
    LoadCode(0x0038, {0xF5, 0xDB, 0x38, 0x77, 0x23, 0xF1, 0xFB, 0xC9});
    LoadCode(0x0066, {0xED, 0x45});
    LoadCode(0x0100, {0xED, 0x56, 0xFB, 0x18, 0xFE});
    CpuState.SP = 0xF000;
    CpuState.HL = Buffer;
}

// The codes the machine took, bit 7 stripped, with where HL (the next free cell) stands.
std::string Taken() {
    std::string codes;
    for (uint16_t a = Buffer; ReadMemoryShared(a) != 0xFF; ++a)
        codes.push_back(char(ReadMemoryShared(a) & 0x7F));
    return codes;
}

template <typename Done> bool WaitFor(Done done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

TEST(RecordingThread, ASessionRecordedOnTheThreadsPlaysBackOnThem) {
    ScratchFolder folder;
    LoadRecorder();
    SystemStart(nullptr, nullptr);
    std::string said;
    ASSERT_TRUE(RecordStart("s.lbr", said)) << said;
    PacerType("HELLO");
    ASSERT_TRUE(WaitFor([] { return !PacerBusy(); }));
    ASSERT_TRUE(RecordStop(said)) << said;
    ASSERT_EQ(Taken(), "HELLO");

    RecordingFile file;
    std::string error;
    ASSERT_TRUE(ReadRecordingFile("s.lbr", file, error)) << error;
    size_t downs = 0;
    for (const RecordedEvent& e : file.events)
        downs += e.kind == RecordedKind::KeyDown;
    EXPECT_GE(downs, 5u); // each letter's key, its shift among them or not

    // Played over a machine that has since taken other keys: the recorded one comes back.
    PacerType("XY");
    ASSERT_TRUE(WaitFor([] { return !PacerBusy(); }));
    ASSERT_EQ(Taken(), "HELLOXY");
    const ReplayResult played = SystemPlay("s.lbr", false);
    ASSERT_TRUE(played.ok) << played.message;
    PacerType("Z"); // ignored while the session plays
    ASSERT_TRUE(WaitFor([] { return !SystemPlaying(); }));
    const std::string notice = RecordTakeNotice();
    EXPECT_NE(notice.find("Played"), std::string::npos) << notice;
    EXPECT_EQ(notice.find("left the recording"), std::string::npos) << notice;
    EXPECT_EQ(Taken(), "HELLO");
    EXPECT_FALSE(PacerBusy());
    // The machine runs on after the replay and takes keys again.
    PacerType("!");
    ASSERT_TRUE(WaitFor([] { return Taken() == "HELLO!"; })) << Taken();
    SystemStop();
}

// A debugger's edit makes the machine one that the recording cannot follow: the recording ends
// where the machine stands, before the edit, and is written; an edit refused because the machine
// runs leaves it going.
TEST(RecordingEdits, AnEditEndsTheRecordingBeforeIt) {
    const struct {
        const char* what;
        bool (*edit)();
    } edits[] = {
        {"memory",
         [] {
             const uint8_t byte = 0x55;
             return DebugWriteMemory(Buffer, &byte, 1);
         }},
        {"a register", [] { return DebugSetRegister("A", 0x12); }},
        {"all registers",
         [] {
             DebugRegisters r{};
             return DebugReadRegisters(r) && DebugWriteRegisters(r);
         }},
    };
    // A case that fails still ends its recording, in its own folder.
    struct StopRecording {
        ~StopRecording() {
            std::string said;
            if (Recording()) RecordStop(said);
        }
    };
    for (const auto& e : edits) {
        SCOPED_TRACE(e.what);
        ScratchFolder folder;
        StopRecording stop;
        LoadRecorder();
        std::string said;
        ASSERT_TRUE(RecordStart("s.lbr", said)) << said;
        for (int tick = 0; tick < 3; ++tick)
            ASSERT_TRUE(SystemRunTick(2000));
        const uint64_t before = ReadProcessorCounts().tstates;
        ASSERT_TRUE(e.edit());
        EXPECT_FALSE(Recording());
        const std::string notice = RecordTakeNotice();
        EXPECT_EQ(notice.rfind("Recording ended", 0), 0u) << notice;
        RecordingFile file;
        std::string error;
        ASSERT_TRUE(ReadRecordingFile("s.lbr", file, error)) << error;
        ASSERT_FALSE(file.events.empty());
        EXPECT_EQ(file.events.back().kind, RecordedKind::End);
        EXPECT_EQ(file.events.back().tstates, before);
    }

    ScratchFolder folder;
    LoadRecorder();
    SystemStart(nullptr, nullptr);
    std::string said;
    ASSERT_TRUE(RecordStart("s.lbr", said)) << said;
    for (const auto& e : edits)
        EXPECT_FALSE(e.edit()) << e.what;
    EXPECT_TRUE(Recording());
    EXPECT_TRUE(RecordStop(said)) << said;
    SystemStop();
}

} // namespace
