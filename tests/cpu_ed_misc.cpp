// The ED table apart from the block instructions: port I/O through C, ADC/SBC HL, the absolute
// loads, NEG, RETN/RETI, IM, I and R, RRD/RLD, and the stalls.
#include "cpu_prefixed.h"
#include "test_support.h"

#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

constexpr uint16_t CodeAddress = 0x4000;

TEST(EdTable, Negate) {
    struct Case {
        uint8_t a, f, a_out, f_out;
    };
    const Case cases[] = {
        {0x01, 0x00, 0xFF, 0x93}, // S H N C
        {0x80, 0x00, 0x80, 0x87}, // S P/V N C
        {0x00, 0x01, 0x00, 0x42}, // Z N, C cleared
        {0x10, 0x28, 0xF0, 0xAB}, // S N C, no half borrow, Y X kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("NEG of " + std::to_string(c.a));
        ResetMachineForTest();
        CpuState.A = c.a;
        CpuState.F = c.f;
        LoadCode(CodeAddress, {0xED, 0x44}); // NEG
        ExecutePrefixed();
        EXPECT_EQ(CpuState.A, c.a_out);
        EXPECT_EQ(CpuState.F, c.f_out);
        EXPECT_EQ(CpuState.PC, CodeAddress + 2);
    }
}

TEST(EdTable, AddAndSubtractWithCarryOnHL) {
    struct Case {
        const char* text;
        uint8_t op;
        uint16_t hl, operand;
        uint8_t f;
        uint16_t hl_out;
        uint8_t f_out;
    };
    // The operand goes into the register the opcode names (HL itself for ADC/SBC HL,HL).
    const Case cases[] = {
        {"ADC HL,BC 7FFF+0+C", 0x4A, 0x7FFF, 0x0000, 0x01, 0x8000, 0x94},
        {"ADC HL,DE FFFF+1", 0x5A, 0xFFFF, 0x0001, 0x00, 0x0000, 0x51},
        {"ADC HL,HL 8000+8000", 0x6A, 0x8000, 0x8000, 0x00, 0x0000, 0x45},
        {"ADC HL,SP 1000+0FFF+C", 0x7A, 0x1000, 0x0FFF, 0x01, 0x2000, 0x10},
        {"SBC HL,BC 5-2-C keeps Y X", 0x42, 0x0005, 0x0002, 0x29, 0x0002, 0x2A},
        {"SBC HL,DE 0-1", 0x52, 0x0000, 0x0001, 0x00, 0xFFFF, 0x93},
        {"SBC HL,HL with C", 0x62, 0x1234, 0x1234, 0x01, 0xFFFF, 0x93},
        {"SBC HL,SP 8000-1", 0x72, 0x8000, 0x0001, 0x00, 0x7FFF, 0x16},
        {"SBC HL,BC to zero", 0x42, 0x1234, 0x1234, 0x00, 0x0000, 0x42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        CpuState.HL = c.hl;
        CpuState.F = c.f;
        switch (c.op & 0x30) {
        case 0x00: CpuState.BC = c.operand; break;
        case 0x10: CpuState.DE = c.operand; break;
        case 0x20: break;
        case 0x30: CpuState.SP = c.operand; break;
        }
        LoadCode(CodeAddress, {0xED, c.op});
        ExecutePrefixed();
        EXPECT_EQ(CpuState.HL, c.hl_out);
        EXPECT_EQ(CpuState.F, c.f_out);
        EXPECT_EQ(CpuState.PC, CodeAddress + 2);
    }
}

TEST(EdTable, AbsoluteWordLoadsAndStores) {
    struct Pair {
        const char* name;
        uint8_t store_op, load_op;
        uint16_t& (*reg)(CpuRegisters&);
    };
    const Pair pairs[] = {
        {"BC", 0x43, 0x4B, [](CpuRegisters& s) -> uint16_t& { return s.BC; }},
        {"DE", 0x53, 0x5B, [](CpuRegisters& s) -> uint16_t& { return s.DE; }},
        {"HL", 0x63, 0x6B, [](CpuRegisters& s) -> uint16_t& { return s.HL; }},
        {"SP", 0x73, 0x7B, [](CpuRegisters& s) -> uint16_t& { return s.SP; }},
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.name);
        // LD (FFFFh),rr: low byte at 0xFFFF, high byte at 0x0000.
        ResetMachineForTest();
        p.reg(CpuState) = 0xA1B2;
        LoadCode(CodeAddress, {0xED, p.store_op, 0xFF, 0xFF});
        CpuRegisters expected = CpuState;
        expected.PC = CodeAddress + 4;
        ExecutePrefixed();
        EXPECT_EQ(ReadByte(0xFFFF), 0xB2);
        EXPECT_EQ(ReadByte(0x0000), 0xA1);
        EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));

        // LD rr,(5000h)
        ResetMachineForTest();
        Poke(0x5000, {0x34, 0x12});
        LoadCode(CodeAddress, {0xED, p.load_op, 0x00, 0x50});
        expected = CpuState;
        p.reg(expected) = 0x1234;
        expected.PC = CodeAddress + 4;
        ExecutePrefixed();
        EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));
    }
}

TEST(EdTable, PortInputSetsFlagsFromValue) {
    struct Case {
        uint8_t op;
        uint8_t& (*reg)(CpuRegisters&);
    };
    const Case regs[] = {
        {0x40, [](CpuRegisters& s) -> uint8_t& { return s.B; }},
        {0x48, [](CpuRegisters& s) -> uint8_t& { return s.C; }},
        {0x50, [](CpuRegisters& s) -> uint8_t& { return s.D; }},
        {0x58, [](CpuRegisters& s) -> uint8_t& { return s.E; }},
        {0x60, [](CpuRegisters& s) -> uint8_t& { return s.H; }},
        {0x68, [](CpuRegisters& s) -> uint8_t& { return s.L; }},
        {0x78, [](CpuRegisters& s) -> uint8_t& { return s.A; }},
    };
    struct Value {
        uint8_t v, f, f_out;
    };
    const Value values[] = {
        {0x85, 0x13, 0x81}, // S, three bits set so P/V clear; H N cleared, C kept
        {0x00, 0x28, 0x6C}, // Z, P/V; Y X kept
        {0x03, 0x00, 0x04}, // even parity
    };
    for (const Case& r : regs) {
        for (const Value& v : values) {
            SCOPED_TRACE("op " + std::to_string(r.op) + " value " + std::to_string(v.v));
            ResetMachineForTest();
            CpuState.BC = 0x1238; // port 56; B plays no part
            CpuState.DE = 0x5555, CpuState.HL = 0x6666, CpuState.A = 0x77;
            CpuState.F = v.f;
            WriteInPort(KeyboardPort, v.v);
            LoadCode(CodeAddress, {0xED, r.op});
            CpuRegisters expected = CpuState;
            r.reg(expected) = v.v;
            expected.F = v.f_out;
            expected.PC = CodeAddress + 2;
            ExecutePrefixed();
            EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));
        }
    }
}

TEST(EdTable, PortOutputThroughC) {
    struct Case {
        uint8_t op;
        uint8_t expected; // the value of the named register after the set-up below
    };
    // B=11h C=39h D=33h E=44h H=55h L=66h A=77h; port 57 for every register, 58 for the latch.
    const Case cases[] = {{0x41, 0x11}, {0x49, 0x39}, {0x51, 0x33}, {0x59, 0x44},
                          {0x61, 0x55}, {0x69, 0x66}, {0x79, 0x77}};
    for (const Case& c : cases) {
        SCOPED_TRACE("op " + std::to_string(c.op));
        ResetMachineForTest();
        CpuState.BC = 0x1139, CpuState.DE = 0x3344, CpuState.HL = 0x5566, CpuState.AF = 0x77FF;
        LoadCode(CodeAddress, {0xED, c.op});
        CpuRegisters expected = CpuState;
        expected.PC = CodeAddress + 2;
        ExecutePrefixed();
        EXPECT_EQ(OutPorts[57], c.expected);
        EXPECT_EQ(ReadInPort(57), 0); // other ports read 0 whatever was written
        EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));
    }

    // OUT (C),A to port 58 goes through the latch.
    ResetMachineForTest();
    CpuState.C = LatchPort;
    CpuState.A = 0xFF;
    LoadCode(CodeAddress, {0xED, 0x79}); // OUT (C),A
    ExecutePrefixed();
    EXPECT_EQ(OutPorts[LatchPort], 0xFF);
    EXPECT_EQ(ReadInPort(LatchPort), 0x78);
}

TEST(EdTable, InterruptModeAndIRegister) {
    for (auto [op, mode] : {std::pair{0x46, 0}, {0x56, 1}, {0x5E, 2}}) {
        ResetMachineForTest();
        CpuState.IM = 3; // a value no instruction stores, so each store is seen
        CpuState.F = 0xFF;
        LoadCode(CodeAddress, {0xED, uint8_t(op)});
        ExecutePrefixed();
        EXPECT_EQ(CpuState.IM, mode);
        EXPECT_EQ(CpuState.F, 0xFF);
    }

    ResetMachineForTest();
    CpuState.A = 0x9C;
    CpuState.F = 0xFF;
    LoadCode(CodeAddress, {0xED, 0x47}); // LD I,A
    ExecutePrefixed();
    EXPECT_EQ(CpuState.I, 0x9C);
    EXPECT_EQ(CpuState.F, 0xFF);

    struct Case {
        uint8_t i, iff2, f, f_out;
    };
    const Case cases[] = {
        {0x00, 1, 0x00, 0x44}, // Z, P/V from IFF2
        {0x80, 0, 0x3B, 0xA9}, // S; H N cleared, C Y X kept
        {0x01, 1, 0x01, 0x05},
    };
    for (const Case& c : cases) {
        ResetMachineForTest();
        CpuState.I = c.i;
        CpuState.IFF2 = c.iff2;
        CpuState.A = 0x55;
        CpuState.F = c.f;
        LoadCode(CodeAddress, {0xED, 0x57}); // LD A,I
        ExecutePrefixed();
        EXPECT_EQ(CpuState.A, c.i);
        EXPECT_EQ(CpuState.F, c.f_out) << "I " << int(c.i);
    }
}

// LD A,R: 0-127 always, S = 0, Z and P/V as for LD A,I, and the values really vary.
TEST(EdTable, LoadAFromRefreshGivesSpreadOfSmallValues) {
    ResetMachineForTest();
    SetRefreshSeed(12345);
    std::set<int> seen;
    for (int i = 0; i < 4000; ++i) {
        CpuState.IFF2 = uint8_t(i & 1);
        CpuState.F = 0x29;
        LoadCode(CodeAddress, {0xED, 0x5F}); // LD A,R
        ExecutePrefixed();
        uint8_t a = CpuState.A;
        ASSERT_LE(a, 127);
        ASSERT_EQ(CpuState.F, (a ? 0 : 0x40) | (i & 1 ? 0x04 : 0) | 0x29) << "A " << int(a);
        ASSERT_EQ(CpuState.PC, CodeAddress + 2);
        seen.insert(a);
    }
    EXPECT_GT(seen.size(), 100u); // 4000 draws over 128 values
    UseTimeRefreshSeed();
}

// A fixed seed makes LD A,R repeat its sequence after every reset; the time seed is the default.
TEST(EdTable, RefreshSeedMakesLoadAFromRefreshRepeatable) {
    ResetMachineForTest();
    auto draw = [] {
        std::vector<int> values;
        for (int i = 0; i < 64; ++i) {
            LoadCode(CodeAddress, {0xED, 0x5F}); // LD A,R
            ExecutePrefixed();
            values.push_back(CpuState.A);
        }
        return values;
    };
    SetRefreshSeed(7);
    std::vector<int> first = draw();
    ProcessorReset();
    EXPECT_EQ(draw(), first) << "a reset re-seeds with the fixed seed";
    SetRefreshSeed(8);
    EXPECT_NE(draw(), first) << "another seed, another sequence";
    SetRefreshSeed(7);
    EXPECT_EQ(draw(), first);
    UseTimeRefreshSeed();
    ProcessorReset();
    EXPECT_NE(draw(), first) << "back to the time seed";
    ControlFlags.store(0);
}

TEST(EdTable, ReturnFromInterrupt) {
    struct Case {
        const char* text;
        uint8_t op, iff1, iff2, iff1_out;
    };
    const Case cases[] = {
        {"RETN restores IFF1", 0x45, 0, 1, 1},
        {"RETN clears IFF1", 0x45, 1, 0, 0},
        {"RETI leaves IFF1", 0x4D, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        CpuState.IFF1 = c.iff1;
        CpuState.IFF2 = c.iff2;
        CpuState.SP = 0xFFFF; // the return address straddles the wrap
        CpuState.F = 0xA5;
        Poke(0xFFFF, {0x34, 0x12});
        LoadCode(CodeAddress, {0xED, c.op});
        ExecutePrefixed();
        EXPECT_EQ(CpuState.PC, 0x1234);
        EXPECT_EQ(CpuState.SP, 0x0001);
        EXPECT_EQ(CpuState.IFF1, c.iff1_out);
        EXPECT_EQ(CpuState.IFF2, c.iff2);
        EXPECT_EQ(CpuState.F, 0xA5);
    }
}

TEST(EdTable, DigitRotates) {
    struct Case {
        const char* text;
        uint8_t op, a, m, f, a_out, m_out, f_out;
    };
    const Case cases[] = {
        {"RRD 12/34", 0x67, 0x12, 0x34, 0x13, 0x14, 0x23, 0x05}, // P/V even, H cleared, C kept
        {"RLD 12/34", 0x6F, 0x12, 0x34, 0x00, 0x13, 0x42, 0x00},
        {"RRD to zero", 0x67, 0x05, 0x30, 0x28, 0x00, 0x53, 0x6C},
        {"RLD sign", 0x6F, 0x8F, 0x00, 0x00, 0x80, 0x0F, 0x80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        CpuState.A = c.a;
        CpuState.F = c.f;
        CpuState.HL = 0x6000;
        Poke(0x6000, {c.m});
        LoadCode(CodeAddress, {0xED, c.op});
        ExecutePrefixed();
        EXPECT_EQ(CpuState.A, c.a_out);
        EXPECT_EQ(ReadByte(0x6000), c.m_out);
        EXPECT_EQ(CpuState.F, c.f_out);
        EXPECT_EQ(CpuState.HL, 0x6000);
    }
}

// ED at 0xFFFF: the second byte comes from 0x0000 and the operand from 0x0001.
TEST(EdTable, PrefixAtTopOfMemory) {
    ResetMachineForTest();
    CpuState.A = 0x01;
    LoadCode(0xFFFF, {0xED, 0x44}); // NEG
    ExecutePrefixed();
    EXPECT_EQ(CpuState.A, 0xFF);
    EXPECT_EQ(CpuState.PC, 0x0001);

    ResetMachineForTest();
    CpuState.SP = 0xBEEF;
    LoadCode(0xFFFF, {0xED, 0x73, 0x00, 0x50}); // LD (5000h),SP
    ExecutePrefixed();
    EXPECT_EQ(ReadWord(0x5000), 0xBEEF);
    EXPECT_EQ(CpuState.PC, 0x0003);
}

const std::set<int> ExecutedEdBytes = {
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4D, 0x50, 0x51,
    0x52, 0x53, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5E, 0x5F, 0x60, 0x61, 0x62, 0x63, 0x67,
    0x68, 0x69, 0x6A, 0x6B, 0x6F, 0x72, 0x73, 0x78, 0x79, 0x7A, 0x7B, 0xA0, 0xA1, 0xA2, 0xA3,
    0xA8, 0xA9, 0xAA, 0xAB, 0xB0, 0xB1, 0xB2, 0xB3, 0xB8, 0xB9, 0xBA, 0xBB};

// Every other second byte, LD R,A and the duplicate encodings among them: PC back on the ED byte
// at every step, and no register, flag, memory byte or port changes.
TEST(EdTable, UnexecutedSecondBytesStall) {
    ASSERT_EQ(ExecutedEdBytes.size(), 57u);
    int stalled = 0;
    for (int op = 0; op < 256; ++op) {
        if (ExecutedEdBytes.count(op)) continue;
        ++stalled;
        for (uint16_t addr : {CodeAddress, uint16_t(0xFFFF)}) {
            SCOPED_TRACE("ED " + std::to_string(op) + " at " + std::to_string(addr));
            ResetMachineForTest();
            CpuState.AF = 0x80D7, CpuState.BC = 0x0138, CpuState.DE = 0x6000;
            CpuState.HL = 0x6100, CpuState.SP = 0x7000, CpuState.IX = 0x1111;
            CpuState.IY = 0x2222, CpuState.I = 0x33, CpuState.IFF1 = 0, CpuState.IFF2 = 1;
            CpuState.IM = 1;
            WriteInPort(KeyboardPort, 0x81);
            Poke(0x7000, {0x00, 0x10});
            LoadCode(addr, {0xED, uint8_t(op), 0x00, 0x60});
            MachineSnapshot before;
            for (int step = 0; step < 2; ++step) {
                ExecutePrefixed();
                ExpectOnlyPcChanged(before, addr);
            }
        }
    }
    EXPECT_EQ(stalled, 199);
}

// A stalled ED instruction stays put at every processor step, while the tick's NMI and a key
// interrupt are still taken and return to it.
TEST(EdTable, StalledInstructionStillTakesInterrupts) {
    ResetMachineForTest();
    CpuState.SP = 0x8000;
    CpuState.IM = 1;
    CpuState.IFF1 = CpuState.IFF2 = 1;
    Poke(NmiAddress, {0xED, 0x45});   // RETN
    Poke(Mode1Address, {0xED, 0x4D}); // RETI
    LoadCode(0x4000, {0xED, 0x77});   // not executed

    for (int step = 0; step < 3; ++step)
        ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x4000);

    SetControlFlags(TICK); // NMI entry pushes 0x4000; RETN runs at 0x0066 and returns to it
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x4000);
    EXPECT_EQ(ReadWord(0x7FFE), 0x4000);
    EXPECT_EQ(CpuState.SP, 0x8000);
    EXPECT_EQ(CpuState.IFF1, 1);
    EXPECT_EQ(ReadControlFlags(), 0u);

    SetControlFlags(KEY); // mode 1: push 0x4000, RETI at 0x0038 returns with interrupts still off
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x4000);
    EXPECT_EQ(CpuState.SP, 0x8000);
    EXPECT_EQ(CpuState.IFF1, 0);
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x4000);
}

} // namespace
