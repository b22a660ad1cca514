// T-state counts: every opcode of the four tables against the documented Zilog counts, written
// here family by family from the instruction set (not copied from the tables), conditional forms
// taken and not taken, block repetitions, the stalls, the interrupt entries; and the real-speed
// budget of 60,000 T-states per tick with single steps.
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "system/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t Code = 0x4000;

// A state in which any instruction runs harmlessly: NOPs everywhere, pointers into RAM, port 1.
void Prepare(uint8_t f) {
    ResetMachineForTest();
    std::memset(MachineMemory, 0, MemorySize);
    auto& s = CpuState;
    s.SP = 0x8000;
    s.HL = 0x9000;
    s.IX = 0xA000;
    s.IY = 0xB000;
    s.BC = 0x0101; // port 1; one repetition of a block instruction
    s.DE = 0xC000;
    s.F = f;
}

uint32_t TimeOne(uint8_t f, const std::vector<uint8_t>& code, uint16_t bc = 0x0101) {
    Prepare(f);
    CpuState.BC = bc;
    LoadCode(Code, {});
    for (size_t i = 0; i < code.size(); ++i)
        MachineMemory[Code + i] = code[i];
    CpuState.PC = Code;
    uint32_t t = ExecuteInstruction();
    ControlFlags.store(0);
    return t;
}

// F = 0 makes NZ, NC, PO and P hold; F = 0xFF makes Z, C, PE and M hold.
bool Holds(int cc, uint8_t f) {
    const uint8_t flag[] = {0x40, 0x01, 0x04, 0x80};
    bool set = f & flag[cc >> 1];
    return (cc & 1) ? set : !set;
}

// The unprefixed instruction op with F = f (0xCB, 0xDD, 0xED, 0xFD are the other tables).
uint32_t MainTstates(int op, uint8_t f) {
    const int x = op >> 6, y = (op >> 3) & 7, z = op & 7, p = y >> 1, q = y & 1;
    if (x == 1) return op == 0x76 ? 4 : (y == 6 || z == 6) ? 7 : 4; // LD r,r' / HALT
    if (x == 2) return z == 6 ? 7 : 4;                              // ALU A,r
    if (x == 0) {
        switch (z) {
        case 0:
            if (y == 0 || y == 1) return 4;  // NOP, EX AF,AF'
            if (y == 2) return 8;            // DJNZ with B = 1 falls through (taken: below)
            if (y == 3) return 12;           // JR e
            return Holds(y - 4, f) ? 12 : 7; // JR cc,e
        case 1: return q ? 11 : 10;          // ADD HL,rr / LD rr,nn
        case 2: {
            const uint32_t t[] = {7, 7, 7, 7, 16, 16, 13, 13}; // (BC) (DE) (nn),HL (nn),A
            return t[p * 2 + q];
        }
        case 3: return 6; // INC rr / DEC rr
        case 4:
        case 5: return y == 6 ? 11 : 4; // INC / DEC r, (HL)
        case 6: return y == 6 ? 10 : 7; // LD r,n / LD (HL),n
        default: return 4;              // RLCA RRCA RLA RRA DAA CPL SCF CCF
        }
    }
    switch (z) {
    case 0: return Holds(y, f) ? 11 : 5; // RET cc
    case 1:
        if (!q) return 10;                                // POP
        return p == 0 ? 10 : p == 1 ? 4 : p == 2 ? 4 : 6; // RET EXX JP (HL) LD SP,HL
    case 2: return 10;                                    // JP cc,nn either way
    case 3: {
        const uint32_t t[] = {10, 0, 11, 11, 19, 4, 4, 4}; // JP OUT IN EX (SP),HL EX DE,HL DI EI
        return t[y];
    }
    case 4: return Holds(y, f) ? 17 : 10; // CALL cc,nn
    case 5: return q ? 17 : 11;           // CALL nn / PUSH
    case 6: return 7;                     // ALU A,n
    default: return 11;                   // RST
    }
}

TEST(Tstates, EveryUnprefixedOpcodeBothWaysOfEveryCondition) {
    for (int op = 0; op < 256; ++op) {
        if (op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD) continue;
        for (uint8_t f : {0x00, 0xFF}) {
            uint32_t want = MainTstates(op, f);
            EXPECT_EQ(TimeOne(f, {uint8_t(op), 0x00, 0x00}), want)
                << "opcode " << std::hex << op << " F " << int(f);
        }
    }
}

TEST(Tstates, DjnzTakenAndNot) {
    Prepare(0);
    LoadCode(Code, {0x10, 0xFE});
    CpuState.B = 2;
    EXPECT_EQ(ExecuteInstruction(), 13u);
    EXPECT_EQ(ExecuteInstruction(), 8u); // B reaches 0
}

TEST(Tstates, EveryCbOpcode) {
    for (int op = 0; op < 256; ++op) {
        const bool memory = (op & 7) == 6;
        uint32_t want = memory ? ((op >> 6) == 1 ? 12 : 15) : 8;
        if (op >= 0x30 && op <= 0x37) want = 8; // stall: CB and the second byte fetched
        EXPECT_EQ(TimeOne(0, {0xCB, uint8_t(op)}), want) << "CB " << std::hex << op;
    }
}

// The documented DD / FD forms; every other second byte stalls after fetching two bytes (8).
uint32_t IndexTstates(int op) {
    switch (op) {
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39: return 15; // ADD XY,rr
    case 0x21: return 14; // LD XY,nn
    case 0x22:
    case 0x2A: return 20; // LD (nn),XY / LD XY,(nn)
    case 0x23:
    case 0x2B: return 10; // INC / DEC XY
    case 0x34:
    case 0x35: return 23; // INC / DEC (XY+d)
    case 0x36: return 19; // LD (XY+d),n
    case 0xE1: return 14; // POP XY
    case 0xE3: return 23; // EX (SP),XY
    case 0xE5: return 15; // PUSH XY
    case 0xE9: return 8;  // JP (XY)
    case 0xF9: return 10; // LD SP,XY
    }
    const int x = op >> 6, y = (op >> 3) & 7, z = op & 7;
    if (x == 1 && z == 6 && y != 6) return 19; // LD r,(XY+d)
    if (x == 1 && y == 6 && z != 6) return 19; // LD (XY+d),r
    if (x == 2 && z == 6) return 19;           // ALU A,(XY+d)
    return 8;
}

TEST(Tstates, EveryIndexOpcodeWithBothPrefixes) {
    for (uint8_t prefix : {0xDD, 0xFD})
        for (int op = 0; op < 256; ++op) {
            if (op == 0xCB) continue;
            EXPECT_EQ(TimeOne(0, {prefix, uint8_t(op), 0x02, 0x03}), IndexTstates(op))
                << std::hex << int(prefix) << " " << op;
        }
}

// Prefix, CB, d, op: only (XY+d) forms without a register copy run (23, BIT 20); the rest stall
// after the four bytes (16).
TEST(Tstates, EveryIndexBitOpcodeWithBothPrefixes) {
    for (uint8_t prefix : {0xDD, 0xFD})
        for (int op = 0; op < 256; ++op) {
            const bool runs = (op & 7) == 6 && !(op >= 0x30 && op <= 0x37);
            uint32_t want = !runs ? 16 : (op >> 6) == 1 ? 20 : 23;
            EXPECT_EQ(TimeOne(0, {prefix, 0xCB, 0x05, uint8_t(op)}), want)
                << std::hex << int(prefix) << " CB " << op;
        }
}

// The documented ED forms, block instructions with one repetition; everything else stalls (8).
uint32_t EdTstates(int op) {
    const int x = op >> 6, y = (op >> 3) & 7, z = op & 7;
    if (x == 1) {
        switch (z) {
        case 0:
        case 1: return y == 6 ? 8 : 12; // IN r,(C) / OUT (C),r; 70 and 71 stall
        case 2: return 15;              // SBC / ADC HL,rr
        case 3: return 20;              // LD (nn),rr / LD rr,(nn)
        case 4: return 8;               // NEG; the other seven stall, also 8
        case 5: return y <= 1 ? 14 : 8; // RETN RETI; the rest stall
        case 6: return 8;               // IM 0, IM 1, IM 2; the rest stall, also 8
        default: {
            const uint32_t t[] = {9, 8, 9, 9, 18, 18, 8, 8}; // LD I,A - LD A,I LD A,R RRD RLD
            return t[y];
        }
        }
    }
    if (x == 2 && y >= 4 && z <= 3) return 16; // LDI .. OTDR, last (only) repetition
    return 8;
}

TEST(Tstates, EveryEdOpcode) {
    for (int op = 0; op < 256; ++op)
        // One repetition: BC = 1 for the transfers and compares, B = 1 (port 1) for the I/O.
        EXPECT_EQ(TimeOne(0, {0xED, uint8_t(op), 0x00, 0x00}, (op & 2) ? 0x0101 : 0x0001),
                  EdTstates(op))
            << "ED " << std::hex << op;
}

// 21 for every repetition but the last, 16 for the last; a compare that finds its byte ends there.
TEST(Tstates, BlockRepetitions) {
    struct Case {
        uint8_t op;
        uint16_t bc;
        uint32_t want;
    } cases[] = {
        {0xB0, 3, 21 * 2 + 16},      // LDIR, 3 bytes
        {0xB8, 1, 16},               // LDDR, 1 byte
        {0xB0, 0, 21 * 65535 + 16},  // LDIR, BC = 0: 65,536 bytes
        {0xB1, 5, 21 * 4 + 16},      // CPIR, no match in 5 bytes (A = 0x55, memory 0)
        {0xB2, 0x0300, 21 * 2 + 16}, // INIR, B = 3
        {0xB3, 0x0200, 21 + 16},     // OTIR, B = 2
        {0xBB, 0x0100, 16},          // OTDR, B = 1
        {0xA0, 3, 16},               // LDI never repeats
    };
    for (const Case& c : cases) {
        Prepare(0);
        LoadCode(Code, {0xED, c.op});
        CpuState.BC = uint16_t(c.bc | 0x01); // port 1 for the I/O forms
        if (!(c.op & 2)) CpuState.BC = c.bc; // the transfers and compares count BC itself
        CpuState.A = 0x55;
        CpuState.HL = 0x9000;
        CpuState.DE = 0x9800;
        EXPECT_EQ(ExecuteInstruction(), c.want) << "ED " << std::hex << int(c.op);
    }
    Prepare(0); // CPIR that finds A at its third byte
    LoadCode(Code, {0xED, 0xB1});
    CpuState.A = 0x55;
    CpuState.BC = 10;
    MachineMemory[0x9002] = 0x55;
    EXPECT_EQ(ExecuteInstruction(), 21u * 2 + 16);
    EXPECT_EQ(CpuState.BC, 7);
}

// The counters: every instruction adds its T-states; the NMI adds 11 and interrupt modes 1 and 2
// add 13 and 19 when they take a key.
TEST(Tstates, CountersAddInstructionsAndInterruptEntries) {
    Prepare(0);
    LoadCode(Code, {0x00, 0x00, 0x3E, 0x01}); // NOP NOP LD A,1
    ProcessorCounts before = ReadProcessorCounts();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ProcessorStep());
    ProcessorCounts after = ReadProcessorCounts();
    EXPECT_EQ(after.instructions - before.instructions, 3u);
    EXPECT_EQ(after.tstates - before.tstates, 4u + 4 + 7);

    const struct {
        uint32_t flag;
        uint8_t im;
        uint64_t want;
    } entries[] = {{TICK, 0, 11 + 4}, {KEY, 1, 13 + 4}, {KEY, 2, 19 + 4}, {KEY, 0, 4}};
    for (const auto& e : entries) {
        Prepare(0);
        CpuState.PC = Code;
        CpuState.IM = e.im;
        CpuState.IFF1 = CpuState.IFF2 = 1;
        before = ReadProcessorCounts();
        SetControlFlags(e.flag);
        ASSERT_TRUE(ProcessorStep()); // the entry, then the NOP where it lands
        after = ReadProcessorCounts();
        EXPECT_EQ(after.tstates - before.tstates, e.want)
            << "flag " << e.flag << " IM " << int(e.im);
        EXPECT_EQ(after.instructions - before.instructions, 1u);
    }
}

// ---- The real-speed budget with single steps ----

class RealSpeed : public ::testing::Test {
  protected:
    void SetUp() override {
        Prepare(0); // NOPs everywhere: 4 T-states each
        CpuState.PC = 0x1000;
        ProcessorReset(); // a fresh budget
        CpuState.PC = 0x1000;
        SetWaitstates(RealSpeedWaitstates);
    }
    void TearDown() override { SetWaitstates(0); }
    // Steps until a step executes nothing; returns the instructions executed.
    static int RunPeriod(int limit = 100000) {
        int n = 0;
        for (; n < limit; ++n) {
            uint16_t pc = CpuState.PC;
            EXPECT_TRUE(ProcessorStep());
            if (ProcessorWaitingForTick()) {
                EXPECT_EQ(CpuState.PC, pc) << "a waiting step executed something";
                break;
            }
        }
        return n;
    }
};

TEST_F(RealSpeed, SixtyThousandTstatesThenWaitWithoutBlocking) {
    EXPECT_EQ(RunPeriod(), 15000); // 15,000 NOPs of 4
    for (int i = 0; i < 3; ++i) {  // further steps still wait, and return at once
        EXPECT_TRUE(ProcessorStep());
        EXPECT_TRUE(ProcessorWaitingForTick());
    }
    EXPECT_EQ(CpuState.PC, 0x1000 + 15000);
    // The tick: the NMI (11) and its NOPs share the next 60,000: 11 + 4 * 14,998 = 60,003; the
    // 3 over are taken from the period after.
    SetControlFlags(TICK);
    EXPECT_EQ(RunPeriod(), 14998);
    EXPECT_EQ(CpuState.PC, NmiAddress + 14998);
    SetControlFlags(TICK);
    EXPECT_EQ(RunPeriod(), 14997); // 60,000 - 3 - 11 = 59,986: 14,997 NOPs reach 59,988
}

// Each speed in percent of a real ABC80 is that share of 60,000 T-states per tick, period after
// period.
TEST_F(RealSpeed, SpeedInPercentIsItsShareOfTheTick) {
    const struct {
        int percent;
        int nops; // of 4 T-states in a period
    } speeds[] = {{25, 3750}, {50, 7500}, {100, 15000}, {200, 30000}, {400, 60000}};
    for (const auto& speed : speeds) {
        SystemSetPacePercent(speed.percent);
        EXPECT_EQ(SystemPacePercent(), speed.percent);
        RunPeriod(); // what was left of the period before, at the new budget
        for (int tick = 0; tick < 3; ++tick) {
            SetControlFlags(TICK);
            const uint64_t before = ReadProcessorCounts().tstates;
            RunPeriod();
            const uint64_t ran = ReadProcessorCounts().tstates - before;
            EXPECT_NEAR(double(ran), 4.0 * speed.nops, 12) << speed.percent << " % tick " << tick;
        }
    }
    SystemSetPacePercent(100);
}

// A long block instruction (a screen scrolled with LDIR) is no pace change: its T-states count
// against the tick's budget like any other, so the machine keeps its pace through them.
TEST_F(RealSpeed, LongBlockInstructionsKeepThePace) {
    LoadCode(0x1000, {0x21, 0x00, 0x20, // LD HL,2000h
                      0x11, 0x00, 0x30, // LD DE,3000h
                      0x01, 0xE8, 0x03, // LD BC,1000
                      0xED, 0xB0,       // LDIR: 20,995 T-states
                      0x18, 0xF3});     // JR 1000h
    constexpr int Ticks = 20;
    const uint64_t before = ReadProcessorCounts().tstates;
    for (int tick = 0; tick < Ticks; ++tick) {
        EXPECT_LT(RunPeriod(), 100000) << "the period ends";
        SetControlFlags(TICK);
    }
    const double ran = double(ReadProcessorCounts().tstates - before);
    EXPECT_NEAR(ran, Ticks * 60000.0, 21000) << "the budget, give or take one LDIR";
}

TEST_F(RealSpeed, InstructionThatCrossesTheBudgetRunsWhole) {
    for (uint16_t a = 0x1000; a < 0x1000 + 2 * 9000; a += 2) { // LD A,n: 7 T-states
        MachineMemory[a] = 0x3E;
        MachineMemory[a + 1] = 0x01;
    }
    EXPECT_EQ(RunPeriod(), 8572); // 8,571 x 7 = 59,997 is short of 60,000; one more goes over
}

TEST_F(RealSpeed, HaltWaitsForTheTickWithoutSpinning) {
    MachineMemory[0x1000] = 0x76; // HALT
    ASSERT_TRUE(ProcessorStep());
    EXPECT_FALSE(ProcessorWaitingForTick());
    EXPECT_EQ(RunPeriod(), 0);
    EXPECT_TRUE(ReadControlFlags() & HALTED);
    SetControlFlags(TICK);
    ASSERT_TRUE(ProcessorStep());
    EXPECT_FALSE(ProcessorWaitingForTick());
    EXPECT_EQ(CpuState.PC, NmiAddress + 1);
    EXPECT_EQ(ReadWord(CpuState.SP), 0x1001);
}

TEST_F(RealSpeed, ResetAndQuitAreSeenWhileWaiting) {
    EXPECT_EQ(RunPeriod(), 15000);
    SetControlFlags(RESET);
    ASSERT_TRUE(ProcessorStep());
    EXPECT_FALSE(ProcessorWaitingForTick());
    EXPECT_EQ(CpuState.PC, 1); // reset to 0, then the NOP there, in a fresh period
    EXPECT_EQ(RunPeriod(), 14999);
    SetControlFlags(QUIT);
    EXPECT_FALSE(ProcessorStep());
}

TEST_F(RealSpeed, FullSpeedNeverWaitsAndSwitchingStartsAFreshPeriod) {
    SetWaitstates(0);
    for (int i = 0; i < 40000; ++i)
        ASSERT_TRUE(ProcessorStep());
    EXPECT_FALSE(ProcessorWaitingForTick());
    SetWaitstates(RealSpeedWaitstates);
    EXPECT_EQ(RunPeriod(), 15000);
    SetWaitstates(-2); // other negative values count as 0
    uint16_t pc = CpuState.PC;
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, pc + 1);
    EXPECT_FALSE(ProcessorWaitingForTick());
}

} // namespace
