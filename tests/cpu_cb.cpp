// The CB table: rotates and shifts, BIT, RES, SET on every operand, and the stall of CB 30-37.
#include "cpu_main_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint16_t CodeAddress = 0x1000;

struct ShiftCase {
    const char* text;
    uint8_t op; // second byte
    uint8_t value, f;
    uint8_t result, f_out;
};

TEST(CbShifts, ResultsAndFlags) {
    const ShiftCase cases[] = {
        {"RLC A", 0x07, 0x80, 0x00, 0x01, 0x01},
        {"RLC (HL)", 0x06, 0x81, 0x00, 0x03, 0x05}, // P/V C
        {"RLC B", 0x00, 0x00, 0xFF, 0x00, 0x6C},    // Z P/V; S H N C cleared, Y X kept
        {"RRC H", 0x0C, 0x01, 0x00, 0x80, 0x81},    // S C
        {"RRC C", 0x09, 0xFE, 0x01, 0x7F, 0x00},
        {"RL B", 0x10, 0x80, 0x01, 0x01, 0x01}, // C in, C out, odd parity
        {"RL B", 0x10, 0x80, 0x28, 0x00, 0x6D}, // Z P/V C, Y X kept
        {"RL (HL)", 0x16, 0x40, 0x00, 0x80, 0x80},
        {"RR (HL)", 0x1E, 0x01, 0x01, 0x80, 0x81}, // S C, 80h has odd parity
        {"RR A", 0x1F, 0x02, 0x00, 0x01, 0x00},
        {"SLA C", 0x21, 0x80, 0x00, 0x00, 0x45}, // Z P/V C
        {"SLA E", 0x23, 0x41, 0x01, 0x82, 0x84}, // 0 enters bit 0
        {"SRA D", 0x2A, 0x81, 0x00, 0xC0, 0x85}, // bit 7 stays: S P/V C
        {"SRA L", 0x2D, 0x01, 0x00, 0x00, 0x45},
        {"SRA A", 0x2F, 0x7E, 0x01, 0x3F, 0x04},
        {"SRL E", 0x3B, 0x01, 0x00, 0x00, 0x45},
        {"SRL A", 0x3F, 0xFF, 0x80, 0x7F, 0x01}, // S always clear
        {"SRL (HL)", 0x3E, 0x80, 0x28, 0x40, 0x28},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        FillRegisters();
        int r = c.op & 7;
        OperandAt(r) = c.value;
        CpuState.F = c.f;
        PlaceCode(CodeAddress, {0xCB, c.op});
        CpuRegisters want = CpuState;
        auto memory = MemoryCopy();
        if (r == 6)
            memory[CpuState.HL] = c.result;
        else
            RegisterIn(want, r) = c.result;
        want.F = c.f_out;
        want.PC = CodeAddress + 2;
        ExecuteInstruction();
        ExpectRegisters(want, c.text);
        ExpectMemory(memory, c.text);
    }
}

// Every rotate and shift on every operand: the operand its bits name changes and nothing else.
TEST(CbShifts, EveryOperationOnEveryOperand) {
    // 81h with C clear: result and C out of RLC, RRC, RL, RR, SLA, SRA, (stall), SRL.
    const uint8_t results[8] = {0x03, 0xC0, 0x02, 0x40, 0x02, 0xC0, 0, 0x40};
    const char* names[8] = {"RLC ", "RRC ", "RL ", "RR ", "SLA ", "SRA ", "", "SRL "};
    for (int op = 0; op < 8; ++op) {
        if (op == 6) continue;
        for (int r = 0; r < 8; ++r) {
            ResetMachineForTest();
            FillRegisters(); // F = A2h: S Y N
            OperandAt(r) = 0x81;
            PlaceCode(CodeAddress, {0xCB, uint8_t(8 * op + r)});
            CpuRegisters want = CpuState;
            auto memory = MemoryCopy();
            if (r == 6)
                memory[CpuState.HL] = results[op];
            else
                RegisterIn(want, r) = results[op];
            uint8_t s = results[op] & 0x80, p = (results[op] == 0x03 || results[op] == 0xC0);
            want.F = uint8_t(0x20 | s | (p ? 0x04 : 0) | 0x01);
            want.PC = CodeAddress + 2;
            ExecuteInstruction();
            std::string text = std::string(names[op]) + OperandName[r];
            ExpectRegisters(want, text);
            ExpectMemory(memory, text);
        }
    }
}

TEST(CbShifts, YAndXComeFromTheOldFlagsOnly) {
    for (int op = 0; op < 8; ++op) {
        if (op == 6) continue;
        for (uint8_t value : {0x00, 0x28, 0x55, 0xFF}) {
            for (uint8_t f : {0x00, 0x28, 0x20, 0xFF}) {
                ResetMachineForTest();
                CpuState.A = value;
                CpuState.F = f;
                RunOne(CodeAddress, {0xCB, uint8_t(8 * op + 7)});
                EXPECT_EQ(CpuState.F & 0x28, f & 0x28)
                    << "op " << 8 * op + 7 << " A=" << int(value) << " F=" << int(f);
                EXPECT_EQ(CpuState.F & (FLAG_H | FLAG_N), 0);
            }
        }
    }
}

TEST(CbShifts, RotateThroughCarryTakesTheOldCarry) {
    for (int value = 0; value < 256; value += 17) {
        for (uint8_t carry : {0, 1}) {
            ResetMachineForTest();
            CpuState.B = uint8_t(value);
            CpuState.F = carry;
            RunOne(CodeAddress, {0xCB, 0x10}); // RL B
            EXPECT_EQ(CpuState.B & 0x01, carry) << "RL " << value;
            EXPECT_EQ(CpuState.F & FLAG_C, value >> 7) << "RL " << value;

            CpuState.B = uint8_t(value);
            CpuState.F = carry;
            RunOne(CodeAddress, {0xCB, 0x18}); // RR B
            EXPECT_EQ(CpuState.B >> 7, carry) << "RR " << value;
            EXPECT_EQ(CpuState.F & FLAG_C, value & 1) << "RR " << value;
        }
    }
}

TEST(CbBit, FlagsOfTheBitTest) {
    const ShiftCase cases[] = {
        {"BIT 7,A", 0x7F, 0x80, 0xFF, 0x80, 0x39}, // no S even for bit 7 set
        {"BIT 0,B", 0x40, 0x00, 0x00, 0x00, 0x50}, // Z H
        {"BIT 7,(HL)", 0x7E, 0x7F, 0x80, 0x7F, 0x50},
        {"BIT 3,E", 0x5B, 0x08, 0x06, 0x08, 0x10}, // P/V and N cleared
        {"BIT 4,H", 0x64, 0xEF, 0x29, 0xEF, 0x79}, // C Y X kept
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        FillRegisters();
        OperandAt(c.op & 7) = c.value;
        CpuState.F = c.f;
        PlaceCode(CodeAddress, {0xCB, c.op});
        CpuRegisters want = CpuState;
        want.F = c.f_out;
        want.PC = CodeAddress + 2;
        auto memory = MemoryCopy();
        ExecuteInstruction();
        ExpectRegisters(want, c.text);
        ExpectMemory(memory, c.text);
    }
}

TEST(CbBit, EveryBitOfEveryOperand) {
    for (int b = 0; b < 8; ++b) {
        for (int r = 0; r < 8; ++r) {
            for (bool set : {true, false}) {
                ResetMachineForTest();
                FillRegisters();
                uint8_t value = set ? uint8_t(1 << b) : uint8_t(~(1 << b));
                OperandAt(r) = value;
                CpuState.F = 0xFF;
                RunOne(CodeAddress, {0xCB, uint8_t(0x40 + 8 * b + r)});
                std::string text = "BIT " + std::to_string(b) + "," + OperandName[r];
                EXPECT_EQ(CpuState.F, set ? 0x39 : 0x79) << text;
                EXPECT_EQ(OperandAt(r), value) << text;
                EXPECT_EQ(CpuState.PC, CodeAddress + 2) << text;
            }
        }
    }
}

TEST(CbResSet, EveryBitOfEveryOperandAndFlagsUntouched) {
    for (int b = 0; b < 8; ++b) {
        for (int r = 0; r < 8; ++r) {
            for (bool set : {false, true}) {
                ResetMachineForTest();
                FillRegisters();
                OperandAt(r) = 0x5A;
                CpuState.F = 0xD7;
                uint8_t op = uint8_t((set ? 0xC0 : 0x80) + 8 * b + r);
                PlaceCode(CodeAddress, {0xCB, op});
                CpuRegisters want = CpuState;
                auto memory = MemoryCopy();
                uint8_t result = set ? uint8_t(0x5A | 1 << b) : uint8_t(0x5A & ~(1 << b));
                if (r == 6)
                    memory[CpuState.HL] = result;
                else
                    RegisterIn(want, r) = result;
                want.PC = CodeAddress + 2;
                ExecuteInstruction();
                std::string text =
                    std::string(set ? "SET " : "RES ") + std::to_string(b) + "," + OperandName[r];
                ExpectRegisters(want, text);
                ExpectMemory(memory, text);
            }
        }
    }
}

TEST(CbResSet, SetAtTheTopOfMemoryChangesOnlyThatByte) {
    ResetMachineForTest();
    MachineMemory[0xFFFF] = 0x00;
    MachineMemory[0x0000] = 0x00;
    MachineMemory[0xFFFE] = 0x00;
    CpuState.HL = 0xFFFF;
    RunOne(CodeAddress, {0xCB, 0xFE}); // SET 7,(HL)
    EXPECT_EQ(MachineMemory[0xFFFF], 0x80);
    EXPECT_EQ(MachineMemory[0x0000], 0x00);
    EXPECT_EQ(MachineMemory[0xFFFE], 0x00);
}

TEST(CbPrefix, SecondByteIsReadAcrossTheTopOfMemory) {
    ResetMachineForTest();
    CpuState.A = 0x80;
    PlaceCode(0xFFFF, {0xCB, 0x07}); // RLC A, its second byte at 0000h
    ExecuteInstruction();
    EXPECT_EQ(CpuState.PC, 0x0001);
    EXPECT_EQ(CpuState.A, 0x01);
    EXPECT_EQ(CpuState.F, 0x01);
}

TEST(CbStall, SecondBytes30To37StayOnTheInstruction) {
    for (uint8_t op = 0x30; op <= 0x37; ++op) {
        ResetMachineForTest();
        FillRegisters();
        CpuState.F = 0xFF;
        PlaceCode(CodeAddress, {0xCB, op});
        CpuRegisters want = CpuState;
        auto memory = MemoryCopy();
        for (int i = 0; i < 5; ++i)
            ExecuteInstruction();
        ExpectRegisters(want, "CB " + std::to_string(op));
        ExpectMemory(memory, "CB " + std::to_string(op));
    }
}

TEST(CbStall, TickDuringTheStallReturnsToThePrefix) {
    ResetMachineForTest();
    CpuState.SP = 0x8000;
    MachineMemory[0x0066] = 0x00; // NOP as the NMI handler
    PlaceCode(CodeAddress, {0xCB, 0x30});
    ASSERT_TRUE(ProcessorStep());
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, CodeAddress);
    SetControlFlags(TICK);
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(CpuState.PC, 0x0067);
    EXPECT_EQ(ReadWord(0x7FFE), CodeAddress);
}

} // namespace
