// The ProcessorThread on a thread of its own, driven through ControlFlags as the front ends do.
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"
#include "system/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Generous limits: these catch a thread that never ends, not slowness.
constexpr std::chrono::milliseconds Deadline = 10s;

bool WaitUntil(auto condition, std::chrono::milliseconds limit = Deadline) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs the ProcessorThread body; Quit() sets QUIT and joins, failing when it does not end.
class RunningProcessor {
  public:
    RunningProcessor() {
        ProcessorReset();
        result_ = std::async(std::launch::async, [] { return ProcessorThreadBody(); });
    }
    ~RunningProcessor() {
        if (result_.valid()) {
            SetControlFlags(QUIT);
            result_.wait();
        }
    }
    ::testing::AssertionResult Quit(std::chrono::milliseconds limit = Deadline) {
        SetControlFlags(QUIT);
        if (result_.wait_for(limit) != std::future_status::ready)
            return ::testing::AssertionFailure() << "the ProcessorThread did not end on QUIT";
        int r = result_.get();
        if (r != 16) return ::testing::AssertionFailure() << "result " << r;
        return ::testing::AssertionSuccess();
    }

  private:
    std::future<int> result_;
};

class ProcessorThread : public ::testing::Test {
  protected:
    void SetUp() override { ResetMachineForTest(); }
};

TEST_F(ProcessorThread, QuitEndsARunningLoop) {
    LoadCode(0x0000, {0x18, 0xFE}); // JR $
    const uint64_t before = ReadProcessorCounts().instructions;
    RunningProcessor cpu;
    // The loop publishes its counts every 1,024 instructions: it runs.
    ASSERT_TRUE(WaitUntil([&] { return ReadProcessorCounts().instructions > before; }));
    EXPECT_TRUE(cpu.Quit());
}

TEST_F(ProcessorThread, QuitEndsAHalt) {
    LoadCode(0x0000, {0x76}); // HALT
    RunningProcessor cpu;
    ASSERT_TRUE(WaitUntil([] { return (ReadControlFlags() & HALTED) != 0; }));
    EXPECT_TRUE(cpu.Quit());
}

TEST_F(ProcessorThread, QuitEndsAStall) {
    LoadCode(0x0000, {0xDD, 0x00}); // stalls on the prefix
    RunningProcessor cpu;
    uint16_t pc = 0xFFFF;
    ASSERT_TRUE(WaitUntil([&] { return ProcessorStalled(pc); }));
    EXPECT_EQ(pc, 0x0000);
    EXPECT_TRUE(cpu.Quit());
}

// With INT_MAX idle iterations before every instruction, one instruction waits about a second on a
// fast computer (longer on a slower one: the wait counts iterations); the wait must still give way
// to RESET and QUIT at once. Each RESET after the first is set just after the previous one was
// carried out, when a new wait has only begun, so a wait that ignored it would take nearly a full
// wait to see it: half of one, as this computer's measured pace makes it, tells them apart.
TEST_F(ProcessorThread, HugeWaitstatesDelayNeitherResetNorQuit) {
    const auto full_wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(INT_MAX / PacingIterationsPerSecond()));
    const auto prompt = full_wait / 2;
    ASSERT_GT(prompt, 0ms);
    LoadCode(0x0000, {0x18, 0xFE});
    SetWaitstates(INT_MAX);
    RunningProcessor cpu;
    for (int i = 0; i < 3; ++i) {
        SetControlFlags(RESET);
        EXPECT_TRUE(WaitUntil([] { return (ReadControlFlags() & RESET) == 0; }, prompt))
            << i << ", a full wait is " << full_wait.count() << " ms";
    }
    EXPECT_TRUE(cpu.Quit(prompt));
}

// An NMI handler counts ticks in memory; a mode 2 key handler copies port 56 to memory. The main
// program spins with interrupts enabled.
TEST_F(ProcessorThread, TicksAndKeysFromAnotherThreadReachTheHandlers) {
    LoadCode(0x0066, {
                         0xF5,             // PUSH AF
                         0x3A, 0x00, 0x90, // LD A,(9000h)
                         0x3C,             // INC A
                         0x32, 0x00, 0x90, // LD (9000h),A
                         0xF1,             // POP AF
                         0xED, 0x45,       // RETN
                     });
    LoadCode(0x0200, {
                         0xF5,             // PUSH AF
                         0xDB, 0x38,       // IN A,(38h)
                         0x32, 0x01, 0x90, // LD (9001h),A
                         0xF1,             // POP AF
                         0xFB,             // EI
                         0xED, 0x4D,       // RETI
                     });
    MachineMemory[0x1234] = 0x00;
    MachineMemory[0x1235] = 0x02; // vector at I * 256 + 52 -> 0x0200
    LoadCode(0x0000, {
                         0x31, 0x00, 0xF0, // LD SP,F000h
                         0x3E, 0x12,       // LD A,12h
                         0xED, 0x47,       // LD I,A
                         0xED, 0x5E,       // IM 2
                         0xFB,             // EI
                         0x18, 0xFE,       // JR $
                     });
    MachineMemory[0x9000] = 0;
    MachineMemory[0x9001] = 0;
    RunningProcessor cpu;
    for (int i = 0; i < 5; ++i) {
        SetControlFlags(TICK);
        std::this_thread::sleep_for(2ms);
    }
    WriteInPort(KeyboardPort, 0xE1);
    WriteInterruptBusByte(26);
    SetControlFlags(KEY);
    EXPECT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9001) == 0xE1; }));
    EXPECT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9000) >= 1; }));
    EXPECT_TRUE(cpu.Quit());
}

// The NMI handler counts ticks at 0x9000; the program counts its starts at 0x9001, then spins.
void LoadTickAndStartCounter() {
    LoadCode(0x0066, {0xF5, 0x3A, 0x00, 0x90, 0x3C, 0x32, 0x00, 0x90, 0xF1, 0xED, 0x45});
    LoadCode(0x0000, {
                         0x31, 0x00, 0xF0, // LD SP,F000h
                         0x3A, 0x01, 0x90, // LD A,(9001h)
                         0x3C,             // INC A
                         0x32, 0x01, 0x90, // LD (9001h),A
                         0x18, 0xFE,       // JR $
                     });
    MachineMemory[0x9000] = 0;
    MachineMemory[0x9001] = 0;
}

// At real speed the thread blocks once a tick's 60,000 T-states are spent: nothing runs until the
// next TICK, and TICK, RESET and QUIT each wake it at once. The NMI handler counts ticks at 0x9000;
// the program counts its starts at 0x9001, then spins. The T-states are counted from block to
// block: whatever ran without a tick, whenever it ran, shows there as more than one period.
TEST_F(ProcessorThread, RealSpeedBlocksUntilTickResetOrQuit) {
    constexpr uint64_t Overshoot = 64; // the NMI entry and the period's last instruction
    LoadTickAndStartCounter();
    SetWaitstates(RealSpeedWaitstates);
    const ProcessorCounts start = ReadProcessorCounts();
    RunningProcessor cpu;
    ASSERT_TRUE(WaitUntil([] { return ProcessorWaitingForTick(); }));
    EXPECT_EQ(ReadMemoryShared(0x9001), 1);
    const ProcessorCounts blocked = ReadProcessorCounts();
    EXPECT_LE(blocked.tstates - start.tstates, TstatesPerTick + Overshoot) << "one period only";
    EXPECT_EQ(ReadMemoryShared(0x9000), 0);

    SetControlFlags(TICK);
    EXPECT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9000) == 1; })) << "TICK wakes it";
    EXPECT_TRUE(WaitUntil([] { return ProcessorWaitingForTick(); }));
    const ProcessorCounts next = ReadProcessorCounts();
    EXPECT_GE(next.tstates - blocked.tstates, TstatesPerTick);
    EXPECT_LE(next.tstates - blocked.tstates, TstatesPerTick + Overshoot) << "one tick, one period";
    EXPECT_EQ(next.ticks - blocked.ticks, 1u);

    SetControlFlags(RESET);
    EXPECT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9001) == 2; })) << "RESET wakes it";
    EXPECT_TRUE(WaitUntil([] { return ProcessorWaitingForTick(); }));
    EXPECT_TRUE(cpu.Quit()) << "QUIT wakes it";
    SetWaitstates(0);
}

// The thread spreads a tick's budget over the tick's time in slices, but runs the same T-states
// per tick at every speed: each period ends waiting for the next tick with its budget spent.
TEST_F(ProcessorThread, RealPaceRunsTheBudgetPerTickAtEverySpeed) {
    LoadTickAndStartCounter();
    SetWaitstates(RealSpeedWaitstates);
    RunningProcessor cpu;
    for (int percent : {50, 100, 400}) {
        SystemSetPacePercent(percent);
        const uint64_t budget = 600u * uint64_t(percent);
        SetControlFlags(TICK); // the new budget from here
        ASSERT_TRUE(WaitUntil([] { return ProcessorWaitingForTick(); }));
        for (int tick = 0; tick < 2; ++tick) {
            const uint64_t before = ReadProcessorCounts().tstates;
            SetControlFlags(TICK);
            ASSERT_TRUE(WaitUntil([before] {
                return ReadProcessorCounts().tstates != before && ProcessorWaitingForTick();
            }));
            const uint64_t ran = ReadProcessorCounts().tstates - before;
            EXPECT_GE(ran + 30, budget) << percent << " %"; // give or take an instruction
            EXPECT_LE(ran, budget + 30) << percent << " %";
        }
    }
    SystemSetPacePercent(100);
    SetWaitstates(0);
}

// PAUSE stops the thread whatever it was doing: nothing runs and a pending TICK waits while it is
// set; clearing it resumes (the tick is taken); RESET is carried out but the machine stays paused;
// QUIT ends it at once. The NMI handler counts ticks at 0x9000, the program its starts at 0x9001.
TEST_F(ProcessorThread, PauseStopsEverythingUntilClearedAndGivesWayToResetAndQuit) {
    LoadTickAndStartCounter();
    RunningProcessor cpu;
    ASSERT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9001) == 1; }));
    auto pause = [] {
        SetControlFlags(PAUSE);
        return WaitUntil([] { return ProcessorPaused(); });
    };

    // Each change of the flags wakes the paused thread: once it has looked again and gone back to
    // sleep it has seen the change and stayed put.
    auto looked_again = [](uint64_t looks) {
        return WaitUntil([looks] { return ProcessorPausedLooks() > looks; });
    };

    ASSERT_TRUE(pause());
    const ProcessorCounts paused = ReadProcessorCounts();
    uint64_t looks = ProcessorPausedLooks();
    SetControlFlags(TICK);
    ASSERT_TRUE(looked_again(looks)) << "the TICK wakes the paused thread";
    EXPECT_EQ(ReadProcessorCounts().instructions, paused.instructions) << "nothing runs";
    EXPECT_EQ(ReadProcessorCounts().ticks, paused.ticks) << "no tick is taken";

    ClearControlFlags(PAUSE);
    EXPECT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9000) == 1; })) << "resumed, tick taken";
    EXPECT_TRUE(WaitUntil([] { return !ProcessorPaused(); }));

    ASSERT_TRUE(pause());
    looks = ProcessorPausedLooks();
    SetControlFlags(RESET);
    EXPECT_TRUE(WaitUntil([] { return (ReadControlFlags() & RESET) == 0; }));
    EXPECT_EQ(ReadControlFlags(), PAUSE) << "the reset keeps PAUSE";
    ASSERT_TRUE(looked_again(looks)) << "paused again after the reset";
    EXPECT_EQ(ReadMemoryShared(0x9001), 1) << "nothing runs after a reset while paused";
    ClearControlFlags(PAUSE);
    EXPECT_TRUE(WaitUntil([] { return ReadMemoryShared(0x9001) == 2; })) << "restarted at 0";
    EXPECT_TRUE(WaitUntil([] { return !ProcessorPaused(); }));

    ASSERT_TRUE(pause());
    EXPECT_TRUE(cpu.Quit()) << "QUIT ends a paused thread";
}

} // namespace
