// The processor step: the poll's order, NMI entry, interrupt acceptance, halt, stall, reset.
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

class ProcessorLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetMachineForTest();
        for (uint16_t a : {0x0000, 0x0038, 0x0066, 0x1000})
            MachineMemory[a] = 0x00; // NOPs
        CpuState.SP = 0x8000;
        CpuState.PC = 0x1000;
    }
    static uint16_t StackTop() { return ReadWord(CpuState.SP); }
};

TEST_F(ProcessorLoop, QuitWinsOverResetAndEndsWithoutAnInstruction) {
    CpuState.A = 0x42;
    SetControlFlags(QUIT | RESET | TICK);
    EXPECT_FALSE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x1000);
    EXPECT_EQ(ReadControlFlags(), QUIT | RESET | TICK);
}

TEST_F(ProcessorLoop, ResetClearsAPendingTickSoNoNmiIsTaken) {
    CpuState.A = 0x42;
    CpuState.I = 0x12;
    CpuState.IM = 2;
    CpuState.IFF1 = CpuState.IFF2 = 1;
    MachineMemory[0x0000] = 0x00;
    SetControlFlags(RESET | TICK | KEY | HALTED);
    EXPECT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x0001); // reset to 0, then the NOP there
    EXPECT_EQ(CpuState.SP, 0x8000); // nothing pushed
    EXPECT_EQ(CpuState.A, 0x42);    // registers other than PC, I, IFF, IM kept
    EXPECT_EQ(CpuState.I, 0);
    EXPECT_EQ(CpuState.IM, 0);
    EXPECT_EQ(CpuState.IFF1 | CpuState.IFF2, 0);
    EXPECT_EQ(ReadControlFlags(), 0u);
}

TEST_F(ProcessorLoop, ResetKeepsAQuitThatArrivedMeanwhile) {
    SetControlFlags(QUIT | TICK | KEY);
    ProcessorReset();
    EXPECT_EQ(ReadControlFlags(), QUIT);
}

// The deterministic driver's view of PAUSE: a step executes nothing and takes no interrupt, yet a
// RESET is carried out and keeps PAUSE, and QUIT still ends the run.
TEST_F(ProcessorLoop, PausedStepsExecuteNothingButResetAndQuitAct) {
    SetControlFlags(PAUSE | TICK);
    EXPECT_TRUE(ProcessorStep());
    EXPECT_TRUE(ProcessorPaused());
    EXPECT_EQ(CpuState.PC, 0x1000);
    EXPECT_EQ(CpuState.SP, 0x8000) << "no NMI while paused";

    SetControlFlags(RESET);
    EXPECT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x0000) << "reset, nothing executed";
    EXPECT_EQ(ReadControlFlags(), PAUSE);
    EXPECT_TRUE(ProcessorPaused());

    ClearControlFlags(PAUSE);
    EXPECT_TRUE(ProcessorStep());
    EXPECT_FALSE(ProcessorPaused());
    EXPECT_EQ(CpuState.PC, 0x0001);

    SetControlFlags(PAUSE | QUIT);
    EXPECT_FALSE(ProcessorStep());
}

TEST_F(ProcessorLoop, ResetKeepsMemoryIncludingTheRomArea) {
    MachineMemory[0x0000] = 0x3C; // INC A written over the ROM's first byte
    CpuState.A = 1;
    SetControlFlags(RESET);
    ProcessorStep();
    EXPECT_EQ(MachineMemory[0x0000], 0x3C);
    EXPECT_EQ(CpuState.A, 2);
}

TEST_F(ProcessorLoop, TickTakesTheNmiWhateverIff1Holds) {
    struct Case {
        uint8_t iff1;
    } cases[] = {{0}, {1}};
    for (auto c : cases) {
        SetUp();
        CpuState.IFF1 = CpuState.IFF2 = c.iff1;
        SetControlFlags(TICK);
        ASSERT_TRUE(ProcessorStep());
        EXPECT_EQ(CpuState.PC, 0x0067) << "NMI to 0x0066, then its NOP";
        EXPECT_EQ(CpuState.SP, 0x7FFE);
        EXPECT_EQ(StackTop(), 0x1000);
        EXPECT_EQ(CpuState.IFF1, 0);
        EXPECT_EQ(CpuState.IFF2, c.iff1);
        EXPECT_EQ(ReadControlFlags(), 0u);
    }
}

TEST_F(ProcessorLoop, TickAndKeyTogetherTakeTheNmiFirstAndKeepKeyPending) {
    CpuState.IFF1 = CpuState.IFF2 = 1;
    CpuState.IM = 1;
    SetControlFlags(TICK | KEY);
    ProcessorStep();
    EXPECT_EQ(CpuState.PC, 0x0067);
    EXPECT_EQ(ReadControlFlags(), KEY);
}

TEST_F(ProcessorLoop, KeyWaitsForEiAndIsTakenRightAfterIt) {
    LoadCode(0x1000, {0x00, 0xFB, 0x00}); // NOP; EI; NOP
    CpuState.IM = 1;
    SetControlFlags(KEY);
    ProcessorStep(); // NOP with interrupts off: KEY stays
    EXPECT_EQ(CpuState.PC, 0x1001);
    EXPECT_EQ(ReadControlFlags(), KEY);
    ProcessorStep(); // EI
    EXPECT_EQ(CpuState.IFF1, 1);
    ProcessorStep(); // accepted before the NOP behind the EI
    EXPECT_EQ(StackTop(), 0x1002);
    EXPECT_EQ(CpuState.PC, 0x0039);
    EXPECT_EQ(CpuState.IFF1 | CpuState.IFF2, 0);
    EXPECT_EQ(ReadControlFlags(), 0u);
}

TEST_F(ProcessorLoop, InterruptAcceptanceByMode) {
    struct Case {
        uint8_t im, i, bus;
        uint16_t pc_after, sp_after;
        uint8_t iff_after;
    } cases[] = {
        {0, 0x00, 26, 0x1001, 0x8000, 1}, // dropped: the NOP at 0x1000 runs
        {1, 0x00, 26, 0x0039, 0x7FFE, 0},
        {2, 0x12, 26, 0x2001, 0x7FFE, 0},
        {2, 0x13, 128, 0x3001, 0x7FFE, 0},
    };
    for (auto c : cases) {
        SetUp();
        MachineMemory[0x1234] = 0x00;
        MachineMemory[0x1235] = 0x20; // mode 2 vector -> 0x2000
        MachineMemory[0x2000] = 0x00;
        MachineMemory[0x1300] = 0x00;
        MachineMemory[0x1301] = 0x30; // I = 0x13, bus byte 128: bit 8 of V merges with I
        MachineMemory[0x3000] = 0x00;
        CpuState.IM = c.im;
        CpuState.I = c.i;
        CpuState.IFF1 = CpuState.IFF2 = 1;
        WriteInterruptBusByte(c.bus);
        SetControlFlags(KEY);
        ProcessorStep();
        EXPECT_EQ(CpuState.PC, c.pc_after) << "IM " << int(c.im);
        EXPECT_EQ(CpuState.SP, c.sp_after) << "IM " << int(c.im);
        EXPECT_EQ(CpuState.IFF1, c.iff_after);
        EXPECT_EQ(CpuState.IFF2, c.iff_after);
        EXPECT_EQ(ReadControlFlags(), 0u) << "KEY cleared in every mode";
        if (c.sp_after != 0x8000) {
            EXPECT_EQ(StackTop(), 0x1000);
        }
    }
}

TEST_F(ProcessorLoop, HaltWaitsForTheTickAndReturnsBehindTheHalt) {
    LoadCode(0x3000, {0x76}); // HALT
    CpuState.IFF1 = CpuState.IFF2 = 1;
    CpuState.IM = 1;
    ProcessorStep();
    EXPECT_EQ(CpuState.PC, 0x3001);
    EXPECT_EQ(ReadControlFlags(), HALTED);
    SetControlFlags(KEY | TICK); // a key during the halt waits for the tick's NMI
    ProcessorStep();
    EXPECT_EQ(StackTop(), 0x3001);
    EXPECT_EQ(CpuState.PC, 0x0067);
    EXPECT_EQ(ReadControlFlags(), KEY);
}

TEST_F(ProcessorLoop, StalledPrefixIsFetchedAgainAndTheTickReturnsToIt) {
    LoadCode(0x4000, {0xED, 0x77});
    CpuRegisters before = CpuState;
    for (int i = 0; i < 5; ++i)
        ProcessorStep();
    EXPECT_EQ(CpuState.PC, 0x4000);
    EXPECT_EQ(CpuState.AF, before.AF);
    EXPECT_EQ(CpuState.SP, before.SP);
    SetControlFlags(TICK);
    ProcessorStep();
    EXPECT_EQ(StackTop(), 0x4000);
    EXPECT_EQ(CpuState.PC, 0x0067);
}

TEST_F(ProcessorLoop, FetchAtTheTopWrapsToZero) {
    LoadCode(0xFFFF, {0x00});
    ProcessorStep();
    EXPECT_EQ(CpuState.PC, 0x0000);
}

// Turbo for a moment between two ticks at real speed: the real-speed budget starts afresh
// afterwards, so the machine runs on instead of sitting out the T-states run meanwhile.
TEST_F(ProcessorLoop, RealSpeedStartsAfreshAfterAMomentAtAnotherPace) {
    LoadCode(0x1000, {0x18, 0xFE}); // JR to itself
    SetWaitstates(RealSpeedWaitstates);
    for (int i = 0; i < 100; i++)
        ASSERT_TRUE(ProcessorStep());
    SetPaceOverride(0);
    for (int i = 0; i < 20000; i++) // 240,000 T-states, more than a tick's budget, no tick
        ASSERT_TRUE(ProcessorStep());
    SetPaceOverride(NoPaceOverride);
    const uint64_t before = ReadProcessorCounts().tstates;
    for (int i = 0; i < 100; i++)
        ASSERT_TRUE(ProcessorStep());
    EXPECT_FALSE(ProcessorWaitingForTick());
    EXPECT_EQ(ReadProcessorCounts().tstates - before, 1200u) << "every step ran an instruction";
}

TEST_F(ProcessorLoop, NegativeWaitstatesCountAsNone) {
    SetWaitstates(-5);
    EXPECT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x1001);
}

} // namespace
