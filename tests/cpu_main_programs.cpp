// Small programs run to their HALT: a 16-bit multiply by shift and add, and multi-byte BCD
// arithmetic with DAA.
#include "cpu_main_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// HL = DE * BC (low 16 bits), multiplier bits taken from the bottom.
const std::vector<uint8_t> Multiply = {
    0x21, 0x00, 0x00, // 1000 LD HL,0
    0x3E, 0x10,       // 1003 LD A,16
    0xCB, 0x38,       // 1005 SRL B
    0xCB, 0x19,       // 1007 RR C        ; carry = next multiplier bit
    0x30, 0x01,       // 1009 JR NC,100Ch
    0x19,             // 100B ADD HL,DE
    0xEB,             // 100C EX DE,HL
    0x29,             // 100D ADD HL,HL   ; multiplicand doubles
    0xEB,             // 100E EX DE,HL
    0x3D,             // 100F DEC A
    0x20, 0xF3,       // 1010 JR NZ,1005h
    0x76,             // 1012 HALT
};

TEST(MainPrograms, SixteenBitMultiplyByShiftAndAdd) {
    struct Case {
        uint16_t de, bc;
    } cases[] = {{0x1234, 0x0056}, {300, 200}, {0xFFFF, 0xFFFF}, {0, 0xBEEF},
                 {0x8001, 1},      {255, 257}, {1, 0x8000}};
    for (auto c : cases) {
        ResetMachineForTest();
        PlaceCode(0x1000, Multiply);
        CpuState.DE = c.de;
        CpuState.BC = c.bc;
        ASSERT_TRUE(RunToHalt(1000)) << c.de << " * " << c.bc;
        EXPECT_EQ(CpuState.HL, uint16_t(unsigned(c.de) * c.bc)) << c.de << " * " << c.bc;
        EXPECT_EQ(CpuState.PC, 0x1013);
        EXPECT_EQ(CpuState.BC, 0);
    }
}

// (HL) = (DE) op (HL) over B bytes, least significant first, where op is ADC A,(HL) or
// SBC A,(HL): eight-digit decimal numbers, carry or borrow passed from byte to byte.
std::vector<uint8_t> DecimalProgram(uint8_t op) {
    return {
        0x21, 0x00, 0x90, // 1000 LD HL,9000h
        0x11, 0x00, 0x91, // 1003 LD DE,9100h
        0x06, 0x04,       // 1006 LD B,4
        0xB7,             // 1008 OR A          ; carry clear
        0x1A,             // 1009 LD A,(DE)
        op,               // 100A ADC A,(HL) / SBC A,(HL)
        0x27,             // 100B DAA
        0x77,             // 100C LD (HL),A
        0x23,             // 100D INC HL
        0x13,             // 100E INC DE
        0x10, 0xF8,       // 100F DJNZ 1009h
        0x76,             // 1011 HALT
    };
}

TEST(MainPrograms, DecimalAdditionAndSubtractionWithDaa) {
    struct Case {
        const char* text;
        uint8_t op;
        uint32_t de_number, hl_number; // eight BCD digits each
        uint32_t result;
        bool carry;
    } cases[] = {
        {"ADC", 0x8E, 0x12345678, 0x87654321, 0x99999999, false},
        {"ADC", 0x8E, 0x12345678, 0x87654322, 0x00000000, true},
        {"ADC", 0x8E, 0x00999999, 0x00000001, 0x01000000, false},
        {"ADC", 0x8E, 0x45678901, 0x12345678, 0x58024579, false},
        {"ADC", 0x8E, 0x00000909, 0x00000191, 0x00001100, false},
        {"SBC", 0x9E, 0x00001000, 0x00000001, 0x00000999, false},
        {"SBC", 0x9E, 0x50000000, 0x12345678, 0x37654322, false},
        {"SBC", 0x9E, 0x00000000, 0x00000001, 0x99999999, true},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        PlaceCode(0x1000, DecimalProgram(c.op));
        for (int i = 0; i < 4; ++i) {
            MachineMemory[0x9100 + i] = uint8_t(c.de_number >> 8 * i);
            MachineMemory[0x9000 + i] = uint8_t(c.hl_number >> 8 * i);
        }
        ASSERT_TRUE(RunToHalt(1000)) << c.text;
        uint32_t result = 0;
        for (int i = 0; i < 4; ++i)
            result |= uint32_t(MachineMemory[0x9000 + i]) << 8 * i;
        EXPECT_EQ(result, c.result)
            << std::hex << c.de_number << " " << c.text << " " << c.hl_number;
        EXPECT_EQ(CpuState.F & FLAG_C, c.carry ? FLAG_C : 0) << c.text;
        EXPECT_EQ(CpuState.B, 0);
    }
}

} // namespace
