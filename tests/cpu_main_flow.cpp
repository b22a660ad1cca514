// Main table, the rest: loads, jumps, calls and returns, the stack, exchanges, ports, HALT, DI/EI.
#include "cpu_main_support.h"
#include "machine/ports.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint16_t CodeAddress = 0x1000;

// ---- Loads ----

TEST(MainLoads, NopAndLoadsOfARegisterIntoItselfChangeNothing) {
    for (uint8_t op : {0x00, 0x40, 0x49, 0x52, 0x5B, 0x64, 0x6D, 0x7F}) {
        ResetMachineForTest();
        FillRegisters();
        CpuState.F = 0xFF;
        CpuRegisters want = CpuState;
        want.PC = CodeAddress + 1;
        MachineMemory[CodeAddress] = op;
        auto memory = MemoryCopy();
        CpuState.PC = CodeAddress;
        ExecuteInstruction();
        ExpectRegisters(want, "opcode " + std::to_string(op));
        ExpectMemory(memory, "opcode " + std::to_string(op));
        EXPECT_EQ(ReadControlFlags(), 0u);
    }
}

TEST(MainLoads, EveryRegisterToRegisterLoad) {
    for (int d = 0; d < 8; ++d) {
        for (int s = 0; s < 8; ++s) {
            if (d == 6 && s == 6) continue; // 0x76 is HALT
            ResetMachineForTest();
            FillRegisters();
            uint8_t value = OperandAt(s);
            PlaceCode(CodeAddress, {uint8_t(0x40 + 8 * d + s)});
            CpuRegisters want = CpuState;
            auto memory = MemoryCopy();
            if (d == 6)
                memory[CpuState.HL] = value;
            else
                RegisterIn(want, d) = value;
            want.PC = CodeAddress + 1;
            ExecuteInstruction();
            std::string text = std::string("LD ") + OperandName[d] + "," + OperandName[s];
            ExpectRegisters(want, text);
            ExpectMemory(memory, text);
        }
    }
}

TEST(MainLoads, ImmediateByteIntoEveryOperand) {
    for (int r = 0; r < 8; ++r) {
        ResetMachineForTest();
        FillRegisters();
        PlaceCode(CodeAddress, {uint8_t(0x06 + 8 * r), 0xE7});
        CpuRegisters want = CpuState;
        auto memory = MemoryCopy();
        if (r == 6)
            memory[CpuState.HL] = 0xE7;
        else
            RegisterIn(want, r) = 0xE7;
        want.PC = CodeAddress + 2;
        ExecuteInstruction();
        std::string text = std::string("LD ") + OperandName[r] + ",E7h";
        ExpectRegisters(want, text);
        ExpectMemory(memory, text);
    }
}

TEST(MainLoads, SixteenBitLoadsIncrementsAndDecrements) {
    struct Case {
        const char* text;
        std::vector<uint8_t> code;
        uint16_t CpuRegisters::*pair;
        uint16_t before, after;
    } cases[] = {
        {"LD BC,1234h", {0x01, 0x34, 0x12}, &CpuRegisters::BC, 0x0000, 0x1234},
        {"LD DE,1234h", {0x11, 0x34, 0x12}, &CpuRegisters::DE, 0x0000, 0x1234},
        {"LD HL,1234h", {0x21, 0x34, 0x12}, &CpuRegisters::HL, 0x0000, 0x1234},
        {"LD SP,1234h", {0x31, 0x34, 0x12}, &CpuRegisters::SP, 0x0000, 0x1234},
        {"INC BC", {0x03}, &CpuRegisters::BC, 0x00FF, 0x0100},
        {"INC DE", {0x13}, &CpuRegisters::DE, 0xFFFF, 0x0000},
        {"INC HL", {0x23}, &CpuRegisters::HL, 0x7FFF, 0x8000},
        {"INC SP", {0x33}, &CpuRegisters::SP, 0xFFFF, 0x0000},
        {"DEC BC", {0x0B}, &CpuRegisters::BC, 0x0000, 0xFFFF},
        {"DEC DE", {0x1B}, &CpuRegisters::DE, 0x0100, 0x00FF},
        {"DEC HL", {0x2B}, &CpuRegisters::HL, 0x0001, 0x0000},
        {"DEC SP", {0x3B}, &CpuRegisters::SP, 0x8000, 0x7FFF},
        {"LD SP,HL", {0xF9}, &CpuRegisters::SP, 0xBBCC, 0x9066},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        FillRegisters();
        CpuState.F = 0xD7; // untouched by all of these
        CpuState.*c.pair = c.before;
        CpuRegisters want = CpuState;
        want.*c.pair = c.after;
        want.PC = uint16_t(CodeAddress + c.code.size());
        RunOne(CodeAddress, c.code);
        ExpectRegisters(want, c.text);
    }
}

TEST(MainLoads, MemoryLoadsAndStores) {
    struct Case {
        const char* text;
        std::vector<uint8_t> code;
        uint16_t address;              // of the data, which holds C3h D4h before
        uint8_t low_after, high_after; // memory at address and address + 1
        uint8_t a_after;
        uint16_t hl_after;
    } cases[] = {
        // A = 11h, BC = 2233h, DE = 4455h, HL = 9066h.
        {"LD (BC),A", {0x02}, 0x2233, 0x11, 0xD4, 0x11, 0x9066},
        {"LD (DE),A", {0x12}, 0x4455, 0x11, 0xD4, 0x11, 0x9066},
        {"LD (8000h),A", {0x32, 0x00, 0x80}, 0x8000, 0x11, 0xD4, 0x11, 0x9066},
        {"LD (8000h),HL", {0x22, 0x00, 0x80}, 0x8000, 0x66, 0x90, 0x11, 0x9066},
        {"LD (FFFFh),HL", {0x22, 0xFF, 0xFF}, 0xFFFF, 0x66, 0x90, 0x11, 0x9066}, // H at 0000h
        {"LD (HL),5Ah", {0x36, 0x5A}, 0x9066, 0x5A, 0xD4, 0x11, 0x9066},
        {"LD A,(BC)", {0x0A}, 0x2233, 0xC3, 0xD4, 0xC3, 0x9066},
        {"LD A,(DE)", {0x1A}, 0x4455, 0xC3, 0xD4, 0xC3, 0x9066},
        {"LD A,(8000h)", {0x3A, 0x00, 0x80}, 0x8000, 0xC3, 0xD4, 0xC3, 0x9066},
        {"LD HL,(8000h)", {0x2A, 0x00, 0x80}, 0x8000, 0xC3, 0xD4, 0x11, 0xD4C3},
        {"LD HL,(FFFFh)", {0x2A, 0xFF, 0xFF}, 0xFFFF, 0xC3, 0xD4, 0x11, 0xD4C3}, // H from 0000h
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        FillRegisters();
        MachineMemory[c.address] = 0xC3;
        MachineMemory[uint16_t(c.address + 1)] = 0xD4;
        RunOne(CodeAddress, c.code);
        EXPECT_EQ(MachineMemory[c.address], c.low_after) << c.text;
        EXPECT_EQ(MachineMemory[uint16_t(c.address + 1)], c.high_after) << c.text;
        EXPECT_EQ(CpuState.A, c.a_after) << c.text;
        EXPECT_EQ(CpuState.HL, c.hl_after) << c.text;
        EXPECT_EQ(CpuState.PC, CodeAddress + c.code.size()) << c.text;
        EXPECT_EQ(CpuState.F, 0xA2) << c.text;
    }
}

TEST(MainLoads, WordOperandIsReadAcrossTheTopOfMemory) {
    ResetMachineForTest();
    PlaceCode(0xFFFE, {0x21, 0xCD, 0xAB}); // LD HL,ABCDh across FFFFh
    ExecuteInstruction();
    EXPECT_EQ(CpuState.HL, 0xABCD);
    EXPECT_EQ(CpuState.PC, 0x0001);
}

// ---- Jumps, calls, returns ----

struct ConditionCase {
    const char* name;
    uint8_t flag;        // the flag the condition tests
    bool holds_when_set; // Z, C, PE, M
};
const ConditionCase Conditions[8] = {
    {"NZ", 0x40, false}, {"Z", 0x40, true},  {"NC", 0x01, false}, {"C", 0x01, true},
    {"PO", 0x04, false}, {"PE", 0x04, true}, {"P", 0x80, false},  {"M", 0x80, true},
};
// F with only the tested flag set, or every flag but that one: either way, a handler that looks
// at another flag comes to the other answer in one of the two cases.
uint8_t FlagsFor(const ConditionCase& c, bool holds) {
    return holds == c.holds_when_set ? c.flag : uint8_t(~c.flag);
}

TEST(MainJumps, JpCallRetAndJrOnEveryCondition) {
    for (int cc = 0; cc < 8; ++cc) {
        for (bool holds : {true, false}) {
            std::string text = std::string(Conditions[cc].name) + (holds ? " holds" : " fails");
            uint8_t f = FlagsFor(Conditions[cc], holds);

            ResetMachineForTest();
            CpuState.F = f;
            RunOne(CodeAddress, {uint8_t(0xC2 + 8 * cc), 0x34, 0x12}); // JP cc,1234h
            EXPECT_EQ(CpuState.PC, holds ? 0x1234 : CodeAddress + 3) << "JP " << text;

            ResetMachineForTest();
            CpuState.F = f;
            CpuState.SP = 0x9000;
            RunOne(CodeAddress, {uint8_t(0xC4 + 8 * cc), 0x34, 0x12}); // CALL cc,1234h
            EXPECT_EQ(CpuState.PC, holds ? 0x1234 : CodeAddress + 3) << "CALL " << text;
            EXPECT_EQ(CpuState.SP, holds ? 0x8FFE : 0x9000) << "CALL " << text;
            EXPECT_EQ(ReadWord(0x8FFE), holds ? CodeAddress + 3 : 0xFFFF) << "CALL " << text;

            ResetMachineForTest();
            CpuState.F = f;
            CpuState.SP = 0x8FFE;
            WriteWord(0x8FFE, 0x5678);
            RunOne(CodeAddress, {uint8_t(0xC0 + 8 * cc)}); // RET cc
            EXPECT_EQ(CpuState.PC, holds ? 0x5678 : CodeAddress + 1) << "RET " << text;
            EXPECT_EQ(CpuState.SP, holds ? 0x9000 : 0x8FFE) << "RET " << text;

            if (cc < 4) {
                ResetMachineForTest();
                CpuState.F = f;
                RunOne(CodeAddress, {uint8_t(0x20 + 8 * cc), 0x10}); // JR cc,+10h
                EXPECT_EQ(CpuState.PC, holds ? CodeAddress + 0x12 : CodeAddress + 2)
                    << "JR " << text;
            }
            EXPECT_EQ(CpuState.F, f) << text;
        }
    }
}

TEST(MainJumps, RelativeJumpsCountFromTheNextInstructionAndWrap) {
    struct Case {
        const char* text;
        uint16_t at;
        std::vector<uint8_t> code;
        uint8_t f;
        uint16_t pc_after;
    } cases[] = {
        {"JR $ (e = FEh)", 0x1000, {0x18, 0xFE}, 0x00, 0x1000},
        {"JR +7Fh", 0xFFF0, {0x18, 0x7F}, 0x00, 0x0071},
        {"JR -80h", 0x0000, {0x18, 0x80}, 0x00, 0xFF82},
        {"JR +0", 0x1000, {0x18, 0x00}, 0x00, 0x1002},
        {"JR C,-10h", 0x0005, {0x38, 0xF0}, 0x01, 0xFFF7},
        {"JR +5 at FFFFh", 0xFFFF, {0x18, 0x05}, 0x00, 0x0006},
        {"JR NZ,+5 failing at FFFFh", 0xFFFF, {0x20, 0x05}, 0x40, 0x0001},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        CpuState.F = c.f;
        RunOne(c.at, c.code);
        EXPECT_EQ(CpuState.PC, c.pc_after) << c.text;
    }
}

TEST(MainJumps, DjnzCountsBDownAndJumpsUnlessZero) {
    struct Case {
        uint8_t b, e;
        uint8_t b_after;
        uint16_t pc_after;
    } cases[] = {
        {0x01, 0x10, 0x00, CodeAddress + 2},    // falls through
        {0x00, 0x10, 0xFF, CodeAddress + 0x12}, // 0 wraps to FFh and jumps
        {0x02, 0xFE, 0x01, CodeAddress},        // back to itself
        {0x80, 0x80, 0x7F, CodeAddress + 2 - 0x80},
    };
    for (const auto& c : cases) {
        for (uint8_t f : {0x00, 0xFF}) {
            ResetMachineForTest();
            CpuState.B = c.b;
            CpuState.F = f;
            RunOne(CodeAddress, {0x10, c.e}); // DJNZ e
            EXPECT_EQ(CpuState.B, c.b_after) << "B=" << int(c.b);
            EXPECT_EQ(CpuState.PC, c.pc_after) << "B=" << int(c.b);
            EXPECT_EQ(CpuState.F, f) << "B=" << int(c.b);
        }
    }
}

TEST(MainJumps, UnconditionalJumpsCallsAndReturns) {
    ResetMachineForTest();
    RunOne(CodeAddress, {0xC3, 0xCD, 0xAB}); // JP ABCDh
    EXPECT_EQ(CpuState.PC, 0xABCD);

    CpuState.HL = 0x4321;
    RunOne(CodeAddress, {0xE9}); // JP (HL)
    EXPECT_EQ(CpuState.PC, 0x4321);

    CpuState.SP = 0x8000;
    RunOne(0x1234, {0xCD, 0x00, 0x20}); // CALL 2000h
    EXPECT_EQ(CpuState.PC, 0x2000);
    EXPECT_EQ(CpuState.SP, 0x7FFE);
    EXPECT_EQ(ReadWord(0x7FFE), 0x1237);

    RunOne(0x2000, {0xC9}); // RET
    EXPECT_EQ(CpuState.PC, 0x1237);
    EXPECT_EQ(CpuState.SP, 0x8000);
}

TEST(MainJumps, CallReadsItsOperandBeforeTheReturnAddressOverwritesIt) {
    ResetMachineForTest();
    CpuState.SP = CodeAddress + 3;           // the push lands on the operand bytes
    RunOne(CodeAddress, {0xCD, 0x34, 0x12}); // CALL 1234h
    EXPECT_EQ(CpuState.PC, 0x1234);
    EXPECT_EQ(CpuState.SP, CodeAddress + 1);
    EXPECT_EQ(ReadWord(CodeAddress + 1), CodeAddress + 3);
}

TEST(MainJumps, EveryRestartPushesTheNextAddress) {
    for (int p = 0; p < 8; ++p) {
        ResetMachineForTest();
        CpuState.SP = 0x8000;
        CpuState.F = 0x5A;
        RunOne(0x2000, {uint8_t(0xC7 + 8 * p)}); // RST 8p
        EXPECT_EQ(CpuState.PC, 8 * p) << "RST " << 8 * p;
        EXPECT_EQ(CpuState.SP, 0x7FFE) << "RST " << 8 * p;
        EXPECT_EQ(ReadWord(0x7FFE), 0x2001) << "RST " << 8 * p;
        EXPECT_EQ(CpuState.F, 0x5A);
    }
}

// ---- Stack and exchanges ----

TEST(MainStack, PushAndPopOfEveryPair) {
    struct Case {
        const char* name;
        uint8_t push, pop;
        uint16_t CpuRegisters::*pair;
    } cases[] = {
        {"BC", 0xC5, 0xC1, &CpuRegisters::BC},
        {"DE", 0xD5, 0xD1, &CpuRegisters::DE},
        {"HL", 0xE5, 0xE1, &CpuRegisters::HL},
        {"AF", 0xF5, 0xF1, &CpuRegisters::AF},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        FillRegisters();
        CpuState.SP = 0x8000;
        CpuRegisters want = CpuState;
        want.SP = 0x7FFE;
        want.PC = CodeAddress + 1;
        RunOne(CodeAddress, {c.push});
        ExpectRegisters(want, std::string("PUSH ") + c.name);
        EXPECT_EQ(ReadWord(0x7FFE), CpuState.*c.pair) << "PUSH " << c.name;

        WriteWord(0x7FFE, 0xA55A);
        want.*c.pair = 0xA55A;
        want.SP = 0x8000;
        RunOne(CodeAddress, {c.pop});
        ExpectRegisters(want, std::string("POP ") + c.name);
    }
}

TEST(MainStack, PushAfPopBcCarriesFlagsWithYAndX) {
    ResetMachineForTest();
    CpuState.SP = 0x8000;
    CpuState.A = 0x12;
    CpuState.F = 0x29;                    // Y X C
    PlaceCode(CodeAddress, {0xF5, 0xC1}); // PUSH AF; POP BC
    ExecuteInstruction();
    ExecuteInstruction();
    EXPECT_EQ(CpuState.B, 0x12);
    EXPECT_EQ(CpuState.C, 0x29);
    EXPECT_EQ(CpuState.SP, 0x8000);
}

TEST(MainStack, PopAfLoadsAllEightFlagBits) {
    ResetMachineForTest();
    CpuState.SP = 0x8000;
    MachineMemory[0x8000] = 0xFF;
    MachineMemory[0x8001] = 0x00;
    RunOne(CodeAddress, {0xF1}); // POP AF
    EXPECT_EQ(CpuState.F, 0xFF);
    EXPECT_EQ(CpuState.A, 0x00);
}

TEST(MainStack, PushAndPopWrapAtTheTopOfMemory) {
    ResetMachineForTest();
    CpuState.SP = 0x0001;
    CpuState.BC = 0x1234;
    RunOne(CodeAddress, {0xC5}); // PUSH BC
    EXPECT_EQ(MachineMemory[0xFFFF], 0x34);
    EXPECT_EQ(MachineMemory[0x0000], 0x12);
    EXPECT_EQ(CpuState.SP, 0xFFFF);
    RunOne(CodeAddress, {0xD1}); // POP DE
    EXPECT_EQ(CpuState.DE, 0x1234);
    EXPECT_EQ(CpuState.SP, 0x0001);
}

TEST(MainExchanges, SwapTheirPairsAndNothingElse) {
    struct Case {
        const char* text;
        uint8_t opcode;
        void (*change)(CpuRegisters&);
    } cases[] = {
        {"EX AF,AF'", 0x08, [](CpuRegisters& s) { std::swap(s.AF, s.AF_); }},
        {"EXX", 0xD9,
         [](CpuRegisters& s) {
             std::swap(s.BC, s.BC_);
             std::swap(s.DE, s.DE_);
             std::swap(s.HL, s.HL_);
         }},
        {"EX DE,HL", 0xEB, [](CpuRegisters& s) { std::swap(s.DE, s.HL); }},
    };
    for (const auto& c : cases) {
        ResetMachineForTest();
        FillRegisters();
        CpuRegisters want = CpuState;
        c.change(want);
        want.PC = CodeAddress + 1;
        RunOne(CodeAddress, {c.opcode});
        ExpectRegisters(want, c.text);
    }
}

TEST(MainExchanges, ExStackTopWithHlWrapsAtTheTop) {
    struct Case {
        uint16_t sp;
    } cases[] = {{0x8000}, {0xFFFF}};
    for (auto c : cases) {
        ResetMachineForTest();
        CpuState.SP = c.sp;
        CpuState.HL = 0xABCD;
        WriteWord(c.sp, 0x1234);
        RunOne(CodeAddress, {0xE3}); // EX (SP),HL
        EXPECT_EQ(CpuState.HL, 0x1234) << c.sp;
        EXPECT_EQ(MachineMemory[c.sp], 0xCD) << c.sp;
        EXPECT_EQ(MachineMemory[uint16_t(c.sp + 1)], 0xAB) << c.sp;
        EXPECT_EQ(CpuState.SP, c.sp);
    }
}

// ---- Ports, HALT, interrupts ----

TEST(MainPorts, OutAndInAddressThePortByTheImmediateByte) {
    ResetMachineForTest();
    CpuState.A = 0x55;
    RunOne(CodeAddress, {0xD3, 0x37}); // OUT (37h),A
    EXPECT_EQ(OutPorts[0x37], 0x55);
    EXPECT_EQ(CpuState.PC, CodeAddress + 2);
    EXPECT_EQ(OutPorts[0x55], 0x00); // A is not part of the port number

    WriteInPort(KeyboardPort, 0x9A);
    CpuState.F = 0x00;
    RunOne(CodeAddress, {0xDB, 0x38}); // IN A,(38h)
    EXPECT_EQ(CpuState.A, 0x9A);
    EXPECT_EQ(CpuState.F, 0x00);
    EXPECT_EQ(CpuState.PC, CodeAddress + 2);
}

TEST(MainHalt, SetsHaltedAndTheTickReturnsBehindIt) {
    ResetMachineForTest();
    CpuState.SP = 0x8000;
    MachineMemory[0x0066] = 0x00; // NOP as the NMI handler
    RunOne(0x3000, {0x76});       // HALT
    EXPECT_EQ(CpuState.PC, 0x3001);
    EXPECT_EQ(ReadControlFlags(), HALTED);

    SetControlFlags(TICK);
    ASSERT_TRUE(ProcessorStep());
    EXPECT_EQ(ReadControlFlags(), 0u);
    EXPECT_EQ(CpuState.PC, 0x0067);
    EXPECT_EQ(CpuState.SP, 0x7FFE);
    EXPECT_EQ(ReadWord(0x7FFE), 0x3001);
}

TEST(MainInterrupts, DiClearsBothFlipFlops) {
    ResetMachineForTest();
    CpuState.IFF1 = CpuState.IFF2 = 1;
    RunOne(CodeAddress, {0xF3}); // DI
    EXPECT_EQ(CpuState.IFF1, 0);
    EXPECT_EQ(CpuState.IFF2, 0);
}

TEST(MainInterrupts, EiLetsAPendingKeyInBeforeTheNextInstruction) {
    ResetMachineForTest();
    CpuState.SP = 0x8000;
    CpuState.IM = 1;
    MachineMemory[0x0038] = 0x00;         // NOP as the handler
    PlaceCode(CodeAddress, {0xFB, 0x3C}); // EI; INC A
    SetControlFlags(KEY);
    ASSERT_TRUE(ProcessorStep()); // IFF1 = 0: KEY waits, EI runs
    EXPECT_EQ(CpuState.IFF1, 1);
    EXPECT_EQ(CpuState.IFF2, 1);
    EXPECT_EQ(ReadControlFlags(), KEY);
    ASSERT_TRUE(ProcessorStep()); // the interrupt, then the handler's NOP
    EXPECT_EQ(CpuState.PC, 0x0039);
    EXPECT_EQ(ReadWord(0x7FFE), CodeAddress + 1);
    EXPECT_EQ(CpuState.A, 0); // INC A not run
    EXPECT_EQ(ReadControlFlags(), 0u);
}

} // namespace
