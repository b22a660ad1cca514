// The sixteen block instructions: transfer, compare, input and output, each repeating form
// finishing in one call.
#include "cpu_prefixed.h"
#include "test_support.h"

#include "cpu/cpu_state.h"
#include "machine/memory.h"
#include "machine/ports.h"

#include <gtest/gtest.h>

namespace {

constexpr uint16_t CodeAddress = 0x4000;

void RunEd(uint8_t op) {
    LoadCode(CodeAddress, {0xED, op});
    ExecutePrefixed();
    EXPECT_EQ(CpuState.PC, CodeAddress + 2) << "a block instruction never re-executes itself";
}

struct TransferCase {
    const char* text;
    uint8_t op;
    uint16_t hl, de, bc;
    uint16_t hl_out, de_out;
    uint16_t bc_out;
    uint8_t f_out; // from F = 0xFF before
};

TEST(EdBlock, TransfersCountAndFlags) {
    const TransferCase cases[] = {
        {"LDI, BC 2 -> 1", 0xA0, 0x6000, 0x7000, 2, 0x6001, 0x7001, 1, 0xED},
        {"LDI, BC 1 -> 0", 0xA0, 0x6000, 0x7000, 1, 0x6001, 0x7001, 0, 0xE9},
        {"LDD, BC 0 -> FFFF", 0xA8, 0x6000, 0x7000, 0, 0x5FFF, 0x6FFF, 0xFFFF, 0xED},
        {"LDIR, BC 3", 0xB0, 0x6000, 0x7000, 3, 0x6003, 0x7003, 0, 0xE9},
        {"LDDR, BC 3", 0xB8, 0x6002, 0x7002, 3, 0x5FFF, 0x6FFF, 0, 0xE9},
        {"LDDR from HL 0 wraps", 0xB8, 0x0000, 0x7000, 2, 0xFFFE, 0x6FFE, 0, 0xE9},
        {"LDIR to DE FFFF wraps", 0xB0, 0x6000, 0xFFFF, 2, 0x6002, 0x0001, 0, 0xE9},
    };
    for (const TransferCase& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        for (int i = -4; i < 4; ++i)
            Poke(uint16_t(c.hl + i), {uint8_t(0x10 + i)});
        CpuState.HL = c.hl, CpuState.DE = c.de, CpuState.BC = c.bc;
        CpuState.AF = 0x12FF;
        RunEd(c.op);
        EXPECT_EQ(CpuState.HL, c.hl_out);
        EXPECT_EQ(CpuState.DE, c.de_out);
        EXPECT_EQ(CpuState.BC, c.bc_out);
        EXPECT_EQ(CpuState.F, c.f_out);
        EXPECT_EQ(CpuState.A, 0x12);
        // Every byte moved lands at the same offset from DE as it had from HL.
        int moved = uint16_t(c.bc - c.bc_out);
        int step = c.op & 0x08 ? -1 : 1;
        for (int k = 0; k < moved; ++k) {
            EXPECT_EQ(ReadByte(uint16_t(c.de + step * k)), ReadByte(uint16_t(c.hl + step * k)))
                << "byte " << k;
        }
        EXPECT_EQ(ReadByte(uint16_t(c.de + step * moved)), 0xFF) << "one byte too many";
    }
}

TEST(EdBlock, LdirOverlapSpreadsFirstByte) {
    ResetMachineForTest();
    for (int i = 0; i < 17; ++i)
        Poke(uint16_t(0x6000 + i), {uint8_t(i + 1)});
    CpuState.HL = 0x6000, CpuState.DE = 0x6001, CpuState.BC = 16;
    RunEd(0xB0); // LDIR
    for (int i = 0; i <= 16; ++i)
        EXPECT_EQ(ReadByte(uint16_t(0x6000 + i)), 0x01) << i;
    EXPECT_EQ(ReadByte(0x6011), 0xFF);
    EXPECT_EQ(CpuState.BC, 0);
}

// LDDR with DE = HL + 1 moves an area up by one byte without loss.
TEST(EdBlock, LddrMovesAreaUpward) {
    ResetMachineForTest();
    for (int i = 0; i < 8; ++i)
        Poke(uint16_t(0x6000 + i), {uint8_t(i + 1)});
    CpuState.HL = 0x6007, CpuState.DE = 0x6008, CpuState.BC = 8;
    RunEd(0xB8); // LDDR
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ReadByte(uint16_t(0x6001 + i)), i + 1) << i;
    EXPECT_EQ(ReadByte(0x6000), 0x01);
    EXPECT_EQ(CpuState.HL, 0x5FFF);
    EXPECT_EQ(CpuState.DE, 0x6000);
}

// BC = 0 moves 65,536 bytes: with DE = HL + 1 the byte at HL ends up everywhere.
TEST(EdBlock, LdirWithZeroCountMovesWholeAddressSpace) {
    ResetMachineForTest();
    for (uint32_t a = 0; a < MemorySize; ++a)
        MachineMemory[a] = uint8_t(a * 7 + 3);
    CpuState.HL = 0x1234, CpuState.DE = 0x1235, CpuState.BC = 0;
    CpuState.AF = 0x00C5;
    LoadCode(CodeAddress, {0xED, 0xB0}); // LDIR
    uint8_t first = ReadByte(0x1234);
    ExecutePrefixed();
    EXPECT_EQ(CpuState.HL, 0x1234);
    EXPECT_EQ(CpuState.DE, 0x1235);
    EXPECT_EQ(CpuState.BC, 0);
    EXPECT_EQ(CpuState.F, 0xC1); // S Z C kept, P/V cleared
    int differing = 0;
    for (uint32_t a = 0; a < MemorySize; ++a)
        differing += MachineMemory[a] != first;
    EXPECT_EQ(differing, 0);
}

struct CompareCase {
    const char* text;
    uint8_t op;
    uint16_t hl, bc;
    uint16_t hl_out, bc_out;
    uint8_t f_in, f_out;
};

// Memory from 0x6000: 10 20 30 40 50; A = 0x30.
TEST(EdBlock, Compares) {
    const CompareCase cases[] = {
        {"CPI no match", 0xA1, 0x6000, 5, 0x6001, 4, 0x00, 0x06},
        {"CPI match, BC 1 -> 0, C kept", 0xA1, 0x6002, 1, 0x6003, 0, 0x01, 0x43},
        {"CPD greater byte", 0xA9, 0x6003, 5, 0x6002, 4, 0x00, 0x86},
        {"CPIR match at first byte", 0xB1, 0x6002, 5, 0x6003, 4, 0x01, 0x47},
        {"CPIR match at third byte", 0xB1, 0x6000, 5, 0x6003, 2, 0x00, 0x46},
        {"CPIR BC 2, no match", 0xB1, 0x6003, 2, 0x6005, 0, 0x01, 0x83},
        {"CPIR match in the last count", 0xB1, 0x6000, 3, 0x6003, 0, 0x00, 0x42},
        {"CPDR match going down", 0xB9, 0x6004, 5, 0x6001, 2, 0x29, 0x6F},
        {"CPDR wraps below 0", 0xB9, 0x0001, 3, 0xFFFE, 0, 0x00, 0x12},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        Poke(0x6000, {0x10, 0x20, 0x30, 0x40, 0x50});
        Poke(0x0000, {0x00, 0x01});
        Poke(0xFFFF, {0x02});
        CpuState.A = 0x30;
        CpuState.F = c.f_in;
        CpuState.HL = c.hl, CpuState.BC = c.bc;
        RunEd(c.op);
        EXPECT_EQ(CpuState.HL, c.hl_out);
        EXPECT_EQ(CpuState.BC, c.bc_out);
        EXPECT_EQ(CpuState.F, c.f_out);
        EXPECT_EQ(CpuState.A, 0x30);
    }
}

// BC = 0 with no match: 65,536 comparisons, HL back where it began.
TEST(EdBlock, CpirWithZeroCountSearchesWholeAddressSpace) {
    ResetMachineForTest();
    Poke(0x1233, {0x5A}); // the one match, just below the start: the last byte compared
    CpuState.A = 0x5A;
    CpuState.HL = 0x1234, CpuState.BC = 0;
    RunEd(0xB1); // CPIR
    EXPECT_EQ(CpuState.HL, 0x1234);
    EXPECT_EQ(CpuState.BC, 0);
    EXPECT_EQ(CpuState.F & 0x44, 0x40); // Z from the match, P/V clear as BC reached 0

    ResetMachineForTest();
    CpuState.A = 0x00; // found nowhere in the test machine's memory
    CpuState.HL = 0x1234, CpuState.BC = 0;
    RunEd(0xB1);
    EXPECT_EQ(CpuState.HL, 0x1234);
    EXPECT_EQ(CpuState.F & 0x44, 0x00);
}

struct IoCase {
    const char* text;
    uint8_t op;
    uint16_t hl;
    uint8_t b;
    uint16_t hl_out;
    int count; // bytes moved
    uint8_t f_in, f_out;
};

TEST(EdBlock, InputFromPortC) {
    const IoCase cases[] = {
        {"INI, B 2", 0xA2, 0x8000, 2, 0x8001, 1, 0x00, 0x02},
        {"INI, B 1", 0xA2, 0x8000, 1, 0x8001, 1, 0xA5, 0xE7},
        {"IND, B 1, HL 0", 0xAA, 0x0000, 1, 0xFFFF, 1, 0x40, 0x42},
        {"INIR, B 3", 0xB2, 0x8000, 3, 0x8003, 3, 0x00, 0x42},
        {"INIR, B 0 means 256", 0xB2, 0x8000, 0, 0x8100, 256, 0xA5, 0xE7},
        {"INDR wraps below 0", 0xBA, 0x0001, 3, 0xFFFE, 3, 0x10, 0x52},
    };
    for (const IoCase& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        WriteInPort(KeyboardPort, 0x85);
        CpuState.BC = uint16_t(c.b << 8 | KeyboardPort);
        CpuState.HL = c.hl;
        CpuState.F = c.f_in;
        RunEd(c.op);
        int step = c.op & 0x08 ? -1 : 1;
        for (int k = 0; k < c.count; ++k) {
            EXPECT_EQ(ReadByte(uint16_t(c.hl + step * k)), 0x85) << k;
        }
        EXPECT_EQ(ReadByte(uint16_t(c.hl + step * c.count)), 0xFF) << "one byte too many";
        EXPECT_EQ(CpuState.HL, c.hl_out);
        EXPECT_EQ(CpuState.B, uint8_t(c.b - c.count));
        EXPECT_EQ(CpuState.C, KeyboardPort);
        EXPECT_EQ(CpuState.F, c.f_out);
    }
}

// Output goes byte by byte to port C; port 58 latches bits 3-6 of the last byte written.
TEST(EdBlock, OutputToPortC) {
    const IoCase cases[] = {
        {"OUTI, B 1", 0xA3, 0x6000, 1, 0x6001, 1, 0x00, 0x42},
        {"OUTD, B 2", 0xAB, 0x6003, 2, 0x6002, 1, 0x41, 0x03},
        {"OTIR, B 4", 0xB3, 0x6000, 4, 0x6004, 4, 0x00, 0x42},
        {"OTDR, B 4", 0xBB, 0x6003, 4, 0x5FFF, 4, 0xA5, 0xE7},
    };
    for (const IoCase& c : cases) {
        SCOPED_TRACE(c.text);
        ResetMachineForTest();
        Poke(0x6000, {0x01, 0x0F, 0xFF, 0x87});
        CpuState.BC = uint16_t(c.b << 8 | LatchPort);
        CpuState.HL = c.hl;
        CpuState.F = c.f_in;
        RunEd(c.op);
        int step = c.op & 0x08 ? -1 : 1;
        uint8_t last = ReadByte(uint16_t(c.hl + step * (c.count - 1)));
        EXPECT_EQ(OutPorts[LatchPort], last);
        EXPECT_EQ(ReadInPort(LatchPort), last & 0x78);
        EXPECT_EQ(CpuState.HL, c.hl_out);
        EXPECT_EQ(CpuState.B, uint8_t(c.b - c.count));
        EXPECT_EQ(CpuState.F, c.f_out);
    }
}

// B = 0: 256 port writes, the last one the byte at HL + 255.
TEST(EdBlock, OtirWithZeroCountWrites256Bytes) {
    ResetMachineForTest();
    for (int i = 0; i < 257; ++i)
        Poke(uint16_t(0x6000 + i), {uint8_t(i)});
    CpuState.BC = 0x0039;
    CpuState.HL = 0x6000;
    RunEd(0xB3); // OTIR
    EXPECT_EQ(OutPorts[0x39], 0xFF);
    EXPECT_EQ(CpuState.HL, 0x6100);
    EXPECT_EQ(CpuState.B, 0);
    EXPECT_EQ(CpuState.F & 0x42, 0x42);
}

// A small program: copy a string with LDIR, find its space with CPIR, send the tail with OTIR.
TEST(EdBlock, CopySearchSendProgram) {
    ResetMachineForTest();
    Poke(0x6000, {'A', 'B', 'C', ' ', 'X', 'Y', 'Z'});
    LoadCode(0x4000, {
                         0x21, 0x00, 0x60, // LD HL,6000h
                         0x11, 0x00, 0x70, // LD DE,7000h
                         0x01, 0x07, 0x00, // LD BC,7
                         0xED, 0xB0,       // LDIR
                         0x21, 0x00, 0x70, // LD HL,7000h
                         0x01, 0x07, 0x00, // LD BC,7
                         0x3E, 0x20,       // LD A,' '
                         0xED, 0xB1,       // CPIR
                         0x41,             // LD B,C
                         0x0E, 0x39,       // LD C,57
                         0xED, 0xB3,       // OTIR
                         0x76,             // HALT
                     });
    ASSERT_TRUE(RunToHalt(100));
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(ReadByte(uint16_t(0x7000 + i)), ReadByte(uint16_t(0x6000 + i)));
    EXPECT_EQ(OutPorts[57], 'Z'); // X, Y, Z went out, Z last
    EXPECT_EQ(CpuState.HL, 0x7007);
    EXPECT_EQ(CpuState.B, 0);
}

} // namespace
