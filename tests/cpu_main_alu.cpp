// Main table, arithmetic side: 8-bit accumulator operations, INC/DEC, DAA, the accumulator
// rotates, CPL/SCF/CCF and 16-bit ADD, with their flags. Y and X (0x20, 0x08) are never computed.
#include "cpu_main_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint16_t CodeAddress = 0x1000;
constexpr uint16_t DataAddress = 0x9000; // HL for the (HL) forms

// One instruction on A (and B / (HL) / n as the second operand).
struct AccumulatorCase {
    const char* text; // disassembly
    std::vector<uint8_t> code;
    uint8_t a, b, f;      // before: A; B and the byte at HL; F
    uint8_t a_out, f_out; // after
};

void RunAccumulatorCases(const std::vector<AccumulatorCase>& cases) {
    for (const auto& c : cases) {
        ResetMachineForTest();
        CpuState.A = c.a;
        CpuState.F = c.f;
        CpuState.B = c.b;
        CpuState.HL = DataAddress;
        MachineMemory[DataAddress] = c.b;
        RunOne(CodeAddress, c.code);
        char context[96];
        std::snprintf(context, sizeof context, "%s with A=%02X B=%02X F=%02X", c.text, c.a, c.b,
                      c.f);
        EXPECT_EQ(CpuState.A, c.a_out) << context;
        EXPECT_EQ(CpuState.F, c.f_out) << context;
        EXPECT_EQ(CpuState.PC, CodeAddress + c.code.size()) << context;
        EXPECT_EQ(CpuState.B, c.b) << context;
        EXPECT_EQ(MachineMemory[DataAddress], c.b) << context;
    }
}

TEST(MainIncDec, FlagsOfTheIncrementAndDecrementRules) {
    RunAccumulatorCases({
        {"INC A", {0x3C}, 0x7F, 0, 0x00, 0x80, 0x94}, // S H P/V
        {"INC A", {0x3C}, 0x7F, 0, 0x01, 0x80, 0x95}, // C kept
        {"INC A", {0x3C}, 0xFF, 0, 0x00, 0x00, 0x50}, // Z H
        {"INC A", {0x3C}, 0xFF, 0, 0x03, 0x00, 0x51}, // N cleared, C kept
        {"INC A", {0x3C}, 0x00, 0, 0x28, 0x01, 0x28}, // Y X kept
        {"DEC A", {0x3D}, 0x80, 0, 0x00, 0x7F, 0x16}, // P/V H N
        {"DEC A", {0x3D}, 0x01, 0, 0x00, 0x00, 0x42}, // Z N, H clear
        {"DEC A", {0x3D}, 0x00, 0, 0x01, 0xFF, 0x93}, // S H N, C kept
        {"DEC A", {0x3D}, 0x02, 0, 0x28, 0x01, 0x2A}, // Y X kept
    });
}

TEST(MainAccumulatorOps, AddAndAddWithCarry) {
    RunAccumulatorCases({
        {"ADD A,B", {0x80}, 0x7F, 0x01, 0x00, 0x80, 0x94},    // S H P/V
        {"ADD A,B", {0x80}, 0xFF, 0x01, 0x00, 0x00, 0x51},    // Z H C
        {"ADD A,B", {0x80}, 0x80, 0x80, 0x00, 0x00, 0x45},    // Z P/V C
        {"ADD A,B", {0x80}, 0x01, 0x01, 0x28, 0x02, 0x28},    // Y X kept
        {"ADD A,(HL)", {0x86}, 0x0A, 0x06, 0x02, 0x10, 0x10}, // H, N cleared
        {"ADD A,01h", {0xC6, 0x01}, 0x7F, 0, 0x00, 0x80, 0x94},
        {"ADC A,B", {0x88}, 0xFF, 0x00, 0x01, 0x00, 0x51},      // carry in: Z H C
        {"ADC A,B", {0x88}, 0x01, 0x01, 0x00, 0x02, 0x00},      // no carry in
        {"ADC A,B", {0x88}, 0x00, 0x00, 0x29, 0x01, 0x28},      // Y X kept, C out clear
        {"ADC A,00h", {0xCE, 0x00}, 0x0F, 0, 0x01, 0x10, 0x10}, // half carry from carry in
        {"ADC A,(HL)", {0x8E}, 0x7F, 0x00, 0x01, 0x80, 0x94},   // overflow from carry in
    });
}

TEST(MainAccumulatorOps, SubtractAndCompare) {
    RunAccumulatorCases({
        {"SUB B", {0x90}, 0x00, 0x01, 0x00, 0xFF, 0x93},        // S H N C
        {"SUB B", {0x90}, 0x80, 0x01, 0x00, 0x7F, 0x16},        // P/V H N
        {"SUB B", {0x90}, 0x02, 0x01, 0x28, 0x01, 0x2A},        // Y X kept
        {"SUB (HL)", {0x96}, 0x42, 0x42, 0x00, 0x00, 0x42},     // Z N
        {"SUB 01h", {0xD6, 0x01}, 0x01, 0, 0x01, 0x00, 0x42},   // C cleared
        {"SBC A,B", {0x98}, 0x00, 0x00, 0x01, 0xFF, 0x93},      // borrow in
        {"SBC A,B", {0x98}, 0x02, 0x00, 0x29, 0x01, 0x2A},      // Y X kept
        {"SBC A,0Fh", {0xDE, 0x0F}, 0x10, 0, 0x00, 0x01, 0x12}, // half borrow
        {"SBC A,(HL)", {0x9E}, 0x80, 0x00, 0x01, 0x7F, 0x16},   // overflow from borrow in
        {"CP B", {0xB8}, 0x42, 0x42, 0x11, 0x42, 0x42},         // equal: Z N, A kept
        {"CP B", {0xB8}, 0x01, 0x01, 0x28, 0x01, 0x6A},         // Y X kept
        {"CP B", {0xB8}, 0x00, 0x28, 0x00, 0x00, 0x93},         // Y X not taken from operand
        {"CP 20h", {0xFE, 0x20}, 0x10, 0, 0x00, 0x10, 0x83},    // S N C
        {"CP (HL)", {0xBE}, 0x80, 0x01, 0x00, 0x80, 0x16},      // P/V H N
    });
}

TEST(MainAccumulatorOps, LogicalOperations) {
    RunAccumulatorCases({
        {"AND B", {0xA0}, 0xF0, 0x00, 0x01, 0x00, 0x54},      // Z H P/V, C cleared
        {"AND B", {0xA0}, 0x01, 0x01, 0x28, 0x01, 0x38},      // Y X kept
        {"AND FFh", {0xE6, 0xFF}, 0xFF, 0, 0x00, 0xFF, 0x94}, // Y X stay clear
        {"AND (HL)", {0xA6}, 0x3C, 0x0F, 0x03, 0x0C, 0x14},   // N C cleared
        {"XOR A", {0xAF}, 0x5A, 0x00, 0x13, 0x00, 0x44},      // Z P/V, H N C cleared
        {"XOR B", {0xA8}, 0x01, 0x02, 0x00, 0x03, 0x04},      // even parity
        {"XOR 80h", {0xEE, 0x80}, 0x01, 0, 0x28, 0x81, 0xAC}, // S P/V, Y X kept
        {"XOR (HL)", {0xAE}, 0xFF, 0x0F, 0x00, 0xF0, 0x84},
        {"OR B", {0xB0}, 0x00, 0x00, 0x10, 0x00, 0x44}, // Z P/V, H cleared
        {"OR 01h", {0xF6, 0x01}, 0x80, 0, 0x00, 0x81, 0x84},
        {"OR (HL)", {0xB6}, 0x00, 0x07, 0x01, 0x07, 0x00}, // odd parity, C cleared
    });
}

TEST(MainDecimalAdjust, EveryRowOfTheCorrectionTable) {
    RunAccumulatorCases({
        // After an addition (N clear).
        {"DAA", {0x27}, 0x3C, 0, 0x00, 0x42, 0x14}, // 15 + 27: lo >= 10, hi <= 8
        {"DAA", {0x27}, 0x3C, 0, 0x28, 0x42, 0x3C}, // Y X kept
        {"DAA", {0x27}, 0x9A, 0, 0x00, 0x00, 0x55}, // lo >= 10, hi >= 9: Z H P/V C
        {"DAA", {0x27}, 0xA5, 0, 0x00, 0x05, 0x05}, // lo <= 9, hi >= 10
        {"DAA", {0x27}, 0x8B, 0, 0x00, 0x91, 0x90}, // lo >= 10, hi <= 8: S H
        {"DAA", {0x27}, 0x45, 0, 0x00, 0x45, 0x00}, // already decimal
        {"DAA", {0x27}, 0x10, 0, 0x10, 0x16, 0x00}, // 09 + 07: H, hi <= 9
        {"DAA", {0x27}, 0xA2, 0, 0x10, 0x08, 0x01}, // H, hi >= 10
        {"DAA", {0x27}, 0x20, 0, 0x01, 0x80, 0x81}, // 90 + 90: C, lo <= 9
        {"DAA", {0x27}, 0x3A, 0, 0x01, 0xA0, 0x95}, // C, lo >= 10
        {"DAA", {0x27}, 0x11, 0, 0x11, 0x77, 0x05}, // C and H
        // After a subtraction (N set).
        {"DAA", {0x27}, 0x45, 0, 0x02, 0x45, 0x02}, // nothing to correct
        {"DAA", {0x27}, 0x2D, 0, 0x12, 0x27, 0x16}, // 42 - 15: H
        {"DAA", {0x27}, 0x0F, 0, 0x12, 0x09, 0x16}, // 10 - 01: H
        {"DAA", {0x27}, 0xF0, 0, 0x03, 0x90, 0x87}, // 10 - 20: C
        {"DAA", {0x27}, 0xCC, 0, 0x13, 0x66, 0x17}, // 00 - 34: C and H
    });
}

TEST(MainAccumulatorRotates, CarryTakesTheBitShiftedOut) {
    RunAccumulatorCases({
        {"RLCA", {0x07}, 0x80, 0, 0xD6, 0x01, 0xC5}, // S Z P/V kept, H N cleared
        {"RLCA", {0x07}, 0x41, 0, 0x01, 0x82, 0x00},
        {"RRCA", {0x0F}, 0x01, 0, 0x00, 0x80, 0x01},
        {"RRCA", {0x0F}, 0x02, 0, 0x29, 0x01, 0x28}, // Y X kept
        {"RLA", {0x17}, 0x80, 0, 0x00, 0x00, 0x01},  // Z stays clear
        {"RLA", {0x17}, 0x01, 0, 0x29, 0x03, 0x28},  // old C enters bit 0
        {"RRA", {0x1F}, 0x01, 0, 0x01, 0x80, 0x01},  // old C enters bit 7
        {"RRA", {0x1F}, 0x02, 0, 0x01, 0x81, 0x00},
        {"RRA", {0x1F}, 0x02, 0, 0x00, 0x01, 0x00},
    });
}

TEST(MainFlagInstructions, CplScfCcf) {
    RunAccumulatorCases({
        {"CPL", {0x2F}, 0x0F, 0, 0x01, 0xF0, 0x13}, // H N set, C kept
        {"CPL", {0x2F}, 0xFF, 0, 0x00, 0x00, 0x12}, // Z not computed
        {"SCF", {0x37}, 0x55, 0, 0xFE, 0x55, 0xED}, // H N cleared, the rest kept
        {"SCF", {0x37}, 0x55, 0, 0x13, 0x55, 0x01},
        {"CCF", {0x3F}, 0x55, 0, 0x10, 0x55, 0x11}, // H stays set
        {"CCF", {0x3F}, 0x55, 0, 0x13, 0x55, 0x10}, // C inverted, N cleared
        {"CCF", {0x3F}, 0x55, 0, 0x29, 0x55, 0x28},
        {"CCF", {0x3F}, 0x55, 0, 0xC6, 0x55, 0xC5},
    });
}

TEST(MainAdd16, CarryFromBit15HalfCarryFromBit11) {
    struct Case {
        const char* text;
        uint8_t opcode;
        uint16_t hl, rr; // rr goes into BC, DE and SP alike
        uint8_t f;
        uint16_t hl_out;
        uint8_t f_out;
    } cases[] = {
        {"ADD HL,BC", 0x09, 0x0FFF, 0x0001, 0xC4, 0x1000, 0xD4}, // H; S Z P/V kept
        {"ADD HL,BC", 0x09, 0x0FFF, 0x0001, 0xC6, 0x1000, 0xD4}, // N cleared
        {"ADD HL,DE", 0x19, 0xFFFF, 0x0001, 0x00, 0x0000, 0x11}, // C H, Z not set
        {"ADD HL,HL", 0x29, 0x8000, 0x0000, 0x28, 0x0000, 0x29}, // C, Y X kept
        {"ADD HL,HL", 0x29, 0x0800, 0x0000, 0x00, 0x1000, 0x10},
        {"ADD HL,SP", 0x39, 0x1234, 0x4321, 0x01, 0x5555, 0x00}, // C cleared
        {"ADD HL,SP", 0x39, 0x8000, 0x8000, 0x00, 0x0000, 0x01},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        CpuState.HL = c.hl;
        CpuState.BC = CpuState.DE = CpuState.SP = c.rr;
        CpuState.F = c.f;
        RunOne(CodeAddress, {c.opcode});
        EXPECT_EQ(CpuState.HL, c.hl_out) << c.text << " HL=" << c.hl;
        EXPECT_EQ(CpuState.F, c.f_out) << c.text << " HL=" << c.hl;
        EXPECT_EQ(CpuState.A, 0) << c.text;
    }
}

// Each opcode reaches the register its bits name and no other.

TEST(MainOperandDecoding, IncAndDecOfEveryOperand) {
    for (int r = 0; r < 8; ++r) {
        for (bool inc : {true, false}) {
            ResetMachineForTest();
            FillRegisters(); // F = 0xA2: Y set
            OperandAt(r) = inc ? 0x7F : 0x80;
            CpuRegisters want = CpuState;
            uint8_t opcode = uint8_t((inc ? 0x04 : 0x05) + 8 * r);
            PlaceCode(CodeAddress, {opcode});
            auto memory = MemoryCopy();
            uint8_t result = inc ? 0x80 : 0x7F;
            if (r == 6)
                memory[CpuState.HL] = result;
            else
                RegisterIn(want, r) = result;
            want.F = inc ? 0xB4 : 0x36; // Y kept; S H P/V, or H P/V N
            want.PC = CodeAddress + 1;
            ExecuteInstruction();
            std::string context = std::string(inc ? "INC " : "DEC ") + OperandName[r];
            ExpectRegisters(want, context);
            ExpectMemory(memory, context);
        }
    }
}

TEST(MainOperandDecoding, IncOfTheByteAtHlWritesTheRomArea) {
    ResetMachineForTest();
    CpuState.HL = 0x0100;
    MachineMemory[0x0100] = 0x41;
    RunOne(CodeAddress, {0x34}); // INC (HL)
    EXPECT_EQ(MachineMemory[0x0100], 0x42);
}

TEST(MainOperandDecoding, AccumulatorOperationsOnEveryOperand) {
    const char* names[8] = {"ADD A,", "ADC A,", "SUB ", "SBC A,", "AND ", "XOR ", "OR ", "CP "};
    for (int op = 0; op < 8; ++op) {
        for (int r = 0; r < 8; ++r) {
            ResetMachineForTest();
            FillRegisters(); // F = 0xA2: C clear
            OperandAt(r) = 0x10;
            uint8_t a = r == 7 ? 0x10 : 0x21, b = 0x10;
            CpuState.A = a;
            const uint8_t results[8] = {
                uint8_t(a + b), uint8_t(a + b), uint8_t(a - b), uint8_t(a - b),
                uint8_t(a & b), uint8_t(a ^ b), uint8_t(a | b), a};
            CpuRegisters want = CpuState;
            PlaceCode(CodeAddress, {uint8_t(0x80 + 8 * op + r)});
            auto memory = MemoryCopy();
            want.A = results[op];
            want.PC = CodeAddress + 1;
            ExecuteInstruction();
            want.F = CpuState.F; // the flags are the business of the tables above
            ExpectRegisters(want, std::string(names[op]) + OperandName[r]);
            ExpectMemory(memory, std::string(names[op]) + OperandName[r]);
        }
    }
}

} // namespace
