// The frames a deterministic run hands to its front end: after every tick, the picture of the
// screen as the tick left it (in that tick's blink phase), and "changed" exactly when it differs
// from the picture taken before, whether the processor, a blink or a direct change (a restored
// machine, the debugger) moved it.
#include "display_reference.h"

#include "cpu/cpu_state.h"
#include "machine/memory.h"
#include "system/system.h"

#include <array>
#include <cstring>

namespace {

using Picture = std::array<uint8_t, FrameLines * FrameLineBytes>;

// The screen drawn afresh from memory in the blink phase of frame n.
Picture Expected(uint32_t n) {
    const uint32_t kept = frame_count;
    frame_count = n;
    RenderFrame();
    frame_count = kept;
    Picture p{};
    for (int line = 0; line < FrameLines; ++line)
        std::memcpy(p.data() + line * FrameLineBytes, FrameBitmap[line], FramePixelBytes);
    return p;
}

Picture Taken(bool& changed) {
    uint8_t frame[FrameLines][FrameLineBytes];
    changed = SystemTakeFrame(frame);
    Picture p{};
    for (int line = 0; line < FrameLines; ++line)
        std::memcpy(p.data() + line * FrameLineBytes, frame[line], FramePixelBytes);
    return p;
}

// The first pixel line where two pictures differ, or -1.
int FirstDifference(const Picture& a, const Picture& b) {
    for (int line = 0; line < FrameLines; ++line)
        if (std::memcmp(a.data() + line * FrameLineBytes, b.data() + line * FrameLineBytes,
                        FrameLineBytes) != 0)
            return line;
    return -1;
}

constexpr uint16_t Value = 0x9000; // what the NMI handler writes into the screen

TEST(DeterministicFrames, EachTickShowsTheScreenAsItLeftIt) {
    ResetMachineForTest();
    SystemPause(false);
    ASSERT_TRUE(ref::InstallFont(ref::MakeFont(77, false)));
    // The NMI copies the byte at 0x9000 to row 0, column 5; the main program spins.
    LoadCode(0x0066, {0xF5, 0x3A, 0x00, 0x90, 0x32, 0x05, 0x7C, 0xF1, 0xED, 0x45});
    LoadCode(0x0100, {0x18, 0xFE});
    CpuState.SP = 0xF000;
    MachineMemory[Value] = 0x20;

    struct Step {
        uint8_t value; // at 0x9000 before the tick (written by its NMI), or a poke (see below)
        int ticks;
        bool poke; // written straight into row 1 and redrawn, between ticks
    };
    // Blinking bytes (bit 7) change their picture every 8 frames; others never by themselves.
    const Step steps[] = {
        {0x41, 3, false}, {0x41, 10, false}, {0xC1, 20, false}, {0x42, 12, false},
        {0x93, 1, true},  {0x93, 18, false}, {0x20, 1, true},   {0x42, 3, false},
        {0x07, 2, false}, {0x47, 9, true},   {0x20, 4, false},
    };
    Picture last{};
    bool first = true;
    for (const Step& s : steps) {
        for (int i = 0; i < s.ticks; ++i) {
            uint32_t phase = frame_count;
            if (s.poke && i == 0) {
                MachineMemory[0x7C80] = s.value;
                SystemRedraw();
            } else {
                MachineMemory[Value] = s.value;
                ASSERT_TRUE(SystemRunTick(500));
            }
            bool changed = false;
            const Picture taken = Taken(changed);
            const Picture expected = Expected(phase);
            SCOPED_TRACE(testing::Message() << "value " << int(s.value) << " tick " << i);
            EXPECT_EQ(FirstDifference(taken, expected), -1);
            if (!first) {
                EXPECT_EQ(changed, taken != last);
            }
            first = false;
            last = taken;
        }
    }
    // A new font draws the same screen afresh.
    ASSERT_TRUE(ref::InstallFont(ref::MakeFont(78, false)));
    const uint32_t phase = frame_count;
    ASSERT_TRUE(SystemRunTick(500));
    bool changed = false;
    const Picture taken = Taken(changed), expected = Expected(phase);
    EXPECT_EQ(FirstDifference(taken, expected), -1);
    EXPECT_TRUE(changed);
}

} // namespace
