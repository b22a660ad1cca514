// The DD/FD table: every executed instruction run under both prefixes, the indexed bit group, and
// the stalls.
#include "cpu_prefixed.h"
#include "test_support.h"

#include "cpu/cpu_state.h"
#include "machine/memory.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr uint16_t CodeAddress = 0x2000;
constexpr uint16_t OtherIndexSentinel = 0x5AA5;

struct IndexCase {
    const char* text;           // disassembly, XY standing for IX or IY
    std::vector<uint8_t> bytes; // the instruction after the prefix
    void (*setup)(uint16_t& xy);
    void (*check)(uint16_t& xy);
};

// Runs each case once with DD and IX, once with FD and IY; the other index register must not move.
void RunIndexCases(const std::vector<IndexCase>& cases, bool check_length = true) {
    for (const IndexCase& c : cases) {
        for (uint8_t prefix : {0xDD, 0xFD}) {
            SCOPED_TRACE(std::string(prefix == 0xDD ? "DD " : "FD ") + c.text);
            ResetMachineForTest();
            uint16_t& xy = prefix == 0xDD ? CpuState.IX : CpuState.IY;
            uint16_t& other = prefix == 0xDD ? CpuState.IY : CpuState.IX;
            other = OtherIndexSentinel;
            std::vector<uint8_t> code{prefix};
            code.insert(code.end(), c.bytes.begin(), c.bytes.end());
            PlaceCode(CodeAddress, code);
            c.setup(xy);
            ExecutePrefixed();
            if (check_length) {
                EXPECT_EQ(CpuState.PC, CodeAddress + code.size());
            }
            c.check(xy);
            EXPECT_EQ(other, OtherIndexSentinel);
        }
    }
}

TEST(IndexTable, LoadsStoresAndAddressWrap) {
    RunIndexCases({
        {"LD A,(XY-1) reads below XY",
         {0x7E, 0xFF},
         [](uint16_t& xy) {
             xy = 0x1000;
             Poke(0x0FFF, {0x42});
             Poke(0x1000, {0x99});
         },
         [](uint16_t&) { EXPECT_EQ(CpuState.A, 0x42); }},
        {"LD (XY+1),B wraps past 0xFFFF",
         {0x70, 0x01},
         [](uint16_t& xy) {
             xy = 0xFFFF;
             CpuState.B = 0x37;
         },
         [](uint16_t&) {
             EXPECT_EQ(ReadByte(0x0000), 0x37);
             EXPECT_EQ(ReadByte(0xFFFF), 0xFF);
         }},
        {"LD (XY+5),99h: d before n",
         {0x36, 0x05, 0x99},
         [](uint16_t& xy) { xy = 0x3000; },
         [](uint16_t&) {
             EXPECT_EQ(ReadByte(0x3005), 0x99);
             EXPECT_EQ(ReadByte(0x3099), 0xFF);
         }},
        {"LD (XY-128),n wraps below 0",
         {0x36, 0x80, 0x11},
         [](uint16_t& xy) { xy = 0x0010; },
         [](uint16_t&) { EXPECT_EQ(ReadByte(0xFF90), 0x11); }},
        {"LD XY,7C00h",
         {0x21, 0x00, 0x7C},
         [](uint16_t& xy) { xy = 0x1234; },
         [](uint16_t& xy) { EXPECT_EQ(xy, 0x7C00); }},
        {"LD (FFFFh),XY splits the word over the wrap",
         {0x22, 0xFF, 0xFF},
         [](uint16_t& xy) { xy = 0xBEEF; },
         [](uint16_t&) {
             EXPECT_EQ(ReadByte(0xFFFF), 0xEF);
             EXPECT_EQ(ReadByte(0x0000), 0xBE);
         }},
        {"LD XY,(4000h)",
         {0x2A, 0x00, 0x40},
         [](uint16_t&) {
             Poke(0x4000, {0x34, 0x12});
         },
         [](uint16_t& xy) { EXPECT_EQ(xy, 0x1234); }},
        {"LD SP,XY",
         {0xF9},
         [](uint16_t& xy) { xy = 0x8765; },
         [](uint16_t&) { EXPECT_EQ(CpuState.SP, 0x8765); }},
    });
}

// LD r,(XY+d) and LD (XY+d),r for the seven registers: H and L are the real H and L, and no other
// register changes.
TEST(IndexTable, RegisterLoadsAndStores) {
    struct Reg {
        const char* name;
        uint8_t load_op, store_op;
        uint8_t& (*reg)(CpuRegisters&);
    };
    const Reg regs[] = {
        {"B", 0x46, 0x70, [](CpuRegisters& s) -> uint8_t& { return s.B; }},
        {"C", 0x4E, 0x71, [](CpuRegisters& s) -> uint8_t& { return s.C; }},
        {"D", 0x56, 0x72, [](CpuRegisters& s) -> uint8_t& { return s.D; }},
        {"E", 0x5E, 0x73, [](CpuRegisters& s) -> uint8_t& { return s.E; }},
        {"H", 0x66, 0x74, [](CpuRegisters& s) -> uint8_t& { return s.H; }},
        {"L", 0x6E, 0x75, [](CpuRegisters& s) -> uint8_t& { return s.L; }},
        {"A", 0x7E, 0x77, [](CpuRegisters& s) -> uint8_t& { return s.A; }},
    };
    for (const Reg& r : regs) {
        for (uint8_t prefix : {0xDD, 0xFD}) {
            SCOPED_TRACE(std::string(prefix == 0xDD ? "IX " : "IY ") + r.name);
            uint16_t CpuRegisters::*xy = prefix == 0xDD ? &CpuRegisters::IX : &CpuRegisters::IY;

            // LD r,(XY-2)
            ResetMachineForTest();
            CpuState.AF = 0x07FF, CpuState.BC = 0x0102, CpuState.DE = 0x0304;
            CpuState.HL = 0x0506;
            CpuState.*xy = 0x6002;
            Poke(0x6000, {0xC3});
            LoadCode(CodeAddress, {prefix, r.load_op, 0xFE});
            CpuRegisters expected = CpuState;
            r.reg(expected) = 0xC3;
            expected.PC = CodeAddress + 3;
            ExecutePrefixed();
            EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));

            // LD (XY+7Fh),r
            ResetMachineForTest();
            CpuState.*xy = 0x6000;
            r.reg(CpuState) = 0x5D;
            LoadCode(CodeAddress, {prefix, r.store_op, 0x7F});
            expected = CpuState;
            expected.PC = CodeAddress + 3;
            ExecutePrefixed();
            EXPECT_EQ(ReadByte(0x607F), 0x5D);
            EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));
        }
    }
}

TEST(IndexTable, SixteenBitArithmeticAndStack) {
    RunIndexCases({
        // Z stays clear although the result is 0; S, P/V, Y, X kept; N cleared.
        {"ADD XY,BC: FFFFh+1",
         {0x09},
         [](uint16_t& xy) {
             xy = 0xFFFF;
             CpuState.BC = 0x0001;
             CpuState.F = 0xAE;
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x0000);
             EXPECT_EQ(CpuState.F, 0xBD);
         }},
        {"ADD XY,DE: carry out of bit 11 only",
         {0x19},
         [](uint16_t& xy) {
             xy = 0x0FFF;
             CpuState.DE = 0x0001;
             CpuState.F = 0x41;
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x1000);
             EXPECT_EQ(CpuState.F, 0x50);
         }},
        {"ADD XY,XY doubles",
         {0x29},
         [](uint16_t& xy) {
             xy = 0x4321;
             CpuState.F = 0x00;
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x8642);
             EXPECT_EQ(CpuState.F, 0x00);
         }},
        {"ADD XY,SP",
         {0x39},
         [](uint16_t& xy) {
             xy = 0x8000;
             CpuState.SP = 0x8001;
             CpuState.F = 0x28;
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x0001);
             EXPECT_EQ(CpuState.F, 0x29);
         }},
        {"INC XY wraps, flags kept",
         {0x23},
         [](uint16_t& xy) {
             xy = 0xFFFF;
             CpuState.F = 0x00;
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x0000);
             EXPECT_EQ(CpuState.F, 0x00);
         }},
        {"DEC XY wraps, flags kept",
         {0x2B},
         [](uint16_t& xy) {
             xy = 0x0000;
             CpuState.F = 0xFF;
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0xFFFF);
             EXPECT_EQ(CpuState.F, 0xFF);
         }},
        {"POP XY with SP=FFFFh",
         {0xE1},
         [](uint16_t&) {
             CpuState.SP = 0xFFFF;
             Poke(0xFFFF, {0xCD, 0xAB});
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0xABCD);
             EXPECT_EQ(CpuState.SP, 0x0001);
         }},
        {"PUSH XY with SP=0",
         {0xE5},
         [](uint16_t& xy) {
             xy = 0x1357;
             CpuState.SP = 0x0000;
         },
         [](uint16_t&) {
             EXPECT_EQ(CpuState.SP, 0xFFFE);
             EXPECT_EQ(ReadByte(0xFFFE), 0x57);
             EXPECT_EQ(ReadByte(0xFFFF), 0x13);
         }},
        {"EX (SP),XY",
         {0xE3},
         [](uint16_t& xy) {
             xy = 0x7C00;
             CpuState.SP = 0x8000;
             Poke(0x8000, {0x00, 0x40});
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x4000);
             EXPECT_EQ(ReadWord(0x8000), 0x7C00);
             EXPECT_EQ(CpuState.SP, 0x8000);
         }},
        {"EX (SP),XY with SP=FFFFh",
         {0xE3},
         [](uint16_t& xy) {
             xy = 0x1122;
             CpuState.SP = 0xFFFF;
             Poke(0xFFFF, {0x44, 0x33});
         },
         [](uint16_t& xy) {
             EXPECT_EQ(xy, 0x3344);
             EXPECT_EQ(ReadByte(0xFFFF), 0x22);
             EXPECT_EQ(ReadByte(0x0000), 0x11);
         }},
    });
}

TEST(IndexTable, JumpThroughIndexRegister) {
    RunIndexCases({{"JP (XY)",
                    {0xE9},
                    [](uint16_t& xy) {
                        xy = 0x4000;
                        Poke(0x4000, {0x12, 0x34});
                    },
                    [](uint16_t& xy) {
                        EXPECT_EQ(CpuState.PC, 0x4000); // XY itself, not the word it points at
                        EXPECT_EQ(xy, 0x4000);
                    }}},
                  false);
}

// Accumulator operations and INC/DEC on (XY+d): flags from the shared rules, Y and X kept.
TEST(IndexTable, ArithmeticOnIndexedByte) {
    struct Case {
        const char* text;
        uint8_t op, a, m, f, a_out, m_out, f_out;
    };
    const Case cases[] = {
        {"ADD A,(XY+d) 7F+01", 0x86, 0x7F, 0x01, 0x00, 0x80, 0x01, 0x94},
        {"ADC A,(XY+d) FF+00+C", 0x8E, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x51},
        {"SUB (XY+d) 00-01", 0x96, 0x00, 0x01, 0x00, 0xFF, 0x01, 0x93},
        {"SBC A,(XY+d) 80-00-C", 0x9E, 0x80, 0x00, 0x01, 0x7F, 0x00, 0x16},
        {"AND (XY+d) to 0", 0xA6, 0xF0, 0x0F, 0x01, 0x00, 0x0F, 0x54},
        {"XOR (XY+d) keeps Y X", 0xAE, 0xFF, 0x0F, 0x28, 0xF0, 0x0F, 0xAC},
        {"OR (XY+d) 00|00", 0xB6, 0x00, 0x00, 0x10, 0x00, 0x00, 0x44},
        {"CP (XY+d) equal", 0xBE, 0x5A, 0x5A, 0x01, 0x5A, 0x5A, 0x42},
        {"CP (XY+d) less", 0xBE, 0x10, 0x20, 0x00, 0x10, 0x20, 0x83},
        {"INC (XY+d) 7F", 0x34, 0x00, 0x7F, 0x01, 0x00, 0x80, 0x95},
        {"INC (XY+d) FF", 0x34, 0x00, 0xFF, 0x28, 0x00, 0x00, 0x78},
        {"DEC (XY+d) 80", 0x35, 0x00, 0x80, 0x00, 0x00, 0x7F, 0x16},
        {"DEC (XY+d) 01", 0x35, 0x00, 0x01, 0x01, 0x00, 0x00, 0x43},
        {"DEC (XY+d) 00", 0x35, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x92},
    };
    for (const Case& c : cases) {
        for (uint8_t prefix : {0xDD, 0xFD}) {
            SCOPED_TRACE(std::string(prefix == 0xDD ? "DD " : "FD ") + c.text);
            ResetMachineForTest();
            (prefix == 0xDD ? CpuState.IX : CpuState.IY) = 0x0000;
            CpuState.A = c.a;
            CpuState.F = c.f;
            Poke(0xFF80, {c.m}); // 0x0000 + (-128)
            LoadCode(CodeAddress, {prefix, c.op, 0x80});
            ExecutePrefixed();
            EXPECT_EQ(CpuState.PC, CodeAddress + 3);
            EXPECT_EQ(CpuState.A, c.a_out);
            EXPECT_EQ(ReadByte(0xFF80), c.m_out);
            EXPECT_EQ(CpuState.F, c.f_out);
        }
    }
}

// DD CB d op / FD CB d op: the byte at XY+d changes, no register but F does.
TEST(IndexTable, BitGroupRotatesAndShifts) {
    struct Case {
        const char* text;
        uint8_t op, m, f, m_out, f_out;
    };
    const Case cases[] = {
        {"RLC (XY+d) 80", 0x06, 0x80, 0x00, 0x01, 0x01},
        {"RRC (XY+d) 01", 0x0E, 0x01, 0x00, 0x80, 0x81},
        {"RL (XY+d) 80, C in", 0x16, 0x80, 0x01, 0x01, 0x01},
        {"RR (XY+d) 01, no C", 0x1E, 0x01, 0x28, 0x00, 0x6D},
        {"SLA (XY+d) C0", 0x26, 0xC0, 0x00, 0x80, 0x81},
        {"SRA (XY+d) 81", 0x2E, 0x81, 0x00, 0xC0, 0x85},
        {"SRL (XY+d) 01", 0x3E, 0x01, 0x00, 0x00, 0x45},
        {"RES 7,(XY+d), F kept", 0xBE, 0xFF, 0xD7, 0x7F, 0xD7},
        {"SET 0,(XY+d), F kept", 0xC6, 0x20, 0x00, 0x21, 0x00},
        {"BIT 0,(XY+d) clear bit", 0x46, 0xFE, 0x01, 0xFE, 0x51},
        {"BIT 7,(XY+d) set bit", 0x7E, 0x80, 0xAE, 0x80, 0x38},
    };
    for (const Case& c : cases) {
        for (uint8_t prefix : {0xDD, 0xFD}) {
            for (uint16_t xy : {uint16_t(0x7C01), uint16_t(0x0000)}) {
                SCOPED_TRACE(std::string(prefix == 0xDD ? "DD " : "FD ") + c.text +
                             (xy ? " d=-1" : " d=-1 wrapping"));
                ResetMachineForTest();
                (prefix == 0xDD ? CpuState.IX : CpuState.IY) = xy;
                CpuState.BC = 0x1122, CpuState.DE = 0x3344, CpuState.HL = 0x5566;
                CpuState.A = 0x77;
                CpuState.F = c.f;
                uint16_t ea = uint16_t(xy - 1);
                Poke(ea, {c.m});
                LoadCode(CodeAddress, {prefix, 0xCB, 0xFF, c.op});
                CpuRegisters expected = CpuState;
                ExecutePrefixed();
                expected.PC = CodeAddress + 4;
                expected.F = c.f_out;
                EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));
                EXPECT_EQ(ReadByte(ea), c.m_out);
            }
        }
    }
}

// Every bit number of BIT, RES and SET reaches its own bit.
TEST(IndexTable, BitGroupEveryBitNumber) {
    for (int b = 0; b < 8; ++b) {
        SCOPED_TRACE("bit " + std::to_string(b));
        const uint8_t bit = uint8_t(1 << b);
        struct Step {
            uint8_t op, m, m_out, z;
        };
        const Step steps[] = {
            {uint8_t(0x46 | b << 3), bit, bit, 0},                        // BIT b, bit set
            {uint8_t(0x46 | b << 3), uint8_t(~bit), uint8_t(~bit), 0x40}, // BIT b, bit clear
            {uint8_t(0x86 | b << 3), 0xFF, uint8_t(~bit), 0},             // RES b
            {uint8_t(0xC6 | b << 3), 0x00, bit, 0},                       // SET b
        };
        for (const Step& s : steps) {
            ResetMachineForTest();
            CpuState.IX = 0x3000;
            Poke(0x3005, {s.m});
            LoadCode(CodeAddress, {0xDD, 0xCB, 0x05, s.op});
            ExecutePrefixed();
            EXPECT_EQ(CpuState.PC, CodeAddress + 4);
            EXPECT_EQ(ReadByte(0x3005), s.m_out) << "op " << int(s.op);
            if ((s.op & 0xC0) == 0x40) {
                EXPECT_EQ(CpuState.F & 0x40, s.z) << "op " << int(s.op);
            }
        }
    }
}

// The documented second bytes; everything else stalls.
const std::set<int> ExecutedSecondBytes = {
    0x09, 0x19, 0x21, 0x22, 0x23, 0x29, 0x2A, 0x2B, 0x34, 0x35, 0x36, 0x39, 0x46, 0x4E,
    0x56, 0x5E, 0x66, 0x6E, 0x7E, 0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x77, 0x86, 0x8E,
    0x96, 0x9E, 0xA6, 0xAE, 0xB6, 0xBE, 0xCB, 0xE1, 0xE3, 0xE5, 0xE9, 0xF9};

void FillRegistersForStall() {
    CpuState.AF = 0x12D7, CpuState.BC = 0x3456, CpuState.DE = 0x789A, CpuState.HL = 0xBCDE;
    CpuState.IX = 0x4001, CpuState.IY = 0x4002, CpuState.SP = 0x9000;
    CpuState.AF_ = 0x1111, CpuState.BC_ = 0x2222, CpuState.DE_ = 0x3333, CpuState.HL_ = 0x4444;
    CpuState.I = 0x55, CpuState.IFF1 = 1, CpuState.IFF2 = 1, CpuState.IM = 2;
}

TEST(IndexTable, UndocumentedSecondBytesStall) {
    ASSERT_EQ(ExecutedSecondBytes.size(), 40u);
    int stalled = 0;
    for (int op = 0; op < 256; ++op) {
        if (ExecutedSecondBytes.count(op)) continue;
        ++stalled;
        for (uint8_t prefix : {0xDD, 0xFD}) {
            // The top address checks that PC goes back over the wrap.
            for (uint16_t addr : {CodeAddress, uint16_t(0xFFFF)}) {
                SCOPED_TRACE("prefix " + std::to_string(prefix) + " op " + std::to_string(op) +
                             " at " + std::to_string(addr));
                ResetMachineForTest();
                FillRegistersForStall();
                LoadCode(addr, {prefix, uint8_t(op), 0x01, 0x02});
                MachineSnapshot before;
                for (int step = 0; step < 2; ++step) { // stays on the prefix at every step
                    ExecutePrefixed();
                    ExpectOnlyPcChanged(before, addr);
                }
            }
        }
    }
    EXPECT_EQ(stalled, 216);
}

TEST(IndexTable, BitGroupWithRegisterCopyStalls) {
    int stalled = 0;
    for (int op = 0; op < 256; ++op) {
        if ((op & 7) == 6 && op != 0x36) continue;
        ++stalled;
        for (uint8_t prefix : {0xDD, 0xFD}) {
            for (uint16_t addr : {CodeAddress, uint16_t(0xFFFE)}) {
                SCOPED_TRACE("prefix " + std::to_string(prefix) + " op " + std::to_string(op) +
                             " at " + std::to_string(addr));
                ResetMachineForTest();
                FillRegistersForStall();
                Poke(0x4006, {0x81}); // the byte at XY+5 for either register
                Poke(0x4007, {0x81});
                LoadCode(addr, {prefix, 0xCB, 0x05, uint8_t(op)});
                MachineSnapshot before;
                ExecutePrefixed();
                ExpectOnlyPcChanged(before, addr);
            }
        }
    }
    EXPECT_EQ(stalled, 225);
}

// A small program: sum a four-byte table through IX, then store the sum through IY.
TEST(IndexTable, TableSumProgram) {
    ResetMachineForTest();
    Poke(0x6000, {0x01, 0x02, 0x30, 0x40});
    LoadCode(0x4000, {
                         0xDD, 0x21, 0x00, 0x60, // LD IX,6000h
                         0xFD, 0x21, 0x10, 0x70, // LD IY,7010h
                         0x06, 0x04,             // LD B,4
                         0xAF,                   // XOR A
                         0xDD, 0x86, 0x00,       // loop: ADD A,(IX+0)
                         0xDD, 0x23,             // INC IX
                         0x10, 0xF9,             // DJNZ loop
                         0xFD, 0x77, 0xF0,       // LD (IY-16),A
                         0x76,                   // HALT
                     });
    ASSERT_TRUE(RunToHalt(100));
    EXPECT_EQ(CpuState.A, 0x73);
    EXPECT_EQ(CpuState.IX, 0x6004);
    EXPECT_EQ(CpuState.IY, 0x7010);
    EXPECT_EQ(ReadByte(0x7000), 0x73);
    EXPECT_EQ(CpuState.PC, 0x4016);
}

} // namespace
