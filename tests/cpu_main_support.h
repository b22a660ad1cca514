// Helpers shared by the instruction table tests: placing code, naming operands by their register
// code, and comparing the whole register file and memory against an expected copy.
#pragma once

#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// Writes code at address (wrapping at 0xFFFF) and sets PC there.
inline void PlaceCode(uint16_t address, const std::vector<uint8_t>& code) {
    CpuState.PC = address;
    for (uint8_t b : code)
        MachineMemory[address++] = b;
}

// Places code and executes the one instruction at its start.
inline void RunOne(uint16_t address, const std::vector<uint8_t>& code) {
    PlaceCode(address, code);
    ExecuteInstruction();
}

// Executes instructions until HALT has set HALTED; false when that takes more than limit.
inline bool RunToHalt(int limit = 100000) {
    for (int i = 0; i < limit; ++i) {
        ExecuteInstruction();
        if (ReadControlFlags() & HALTED) return true;
    }
    return false;
}

// The register a register code in an opcode names, in a register file: B C D E H L - A. Code 6,
// the byte at HL, is memory and has no place here.
inline uint8_t& RegisterIn(CpuRegisters& s, int code) {
    switch (code) {
    case 0: return s.B;
    case 1: return s.C;
    case 2: return s.D;
    case 3: return s.E;
    case 4: return s.H;
    case 5: return s.L;
    default: return s.A;
    }
}
// The operand a register code names now: a register, or the byte at the address in HL.
inline uint8_t& OperandAt(int code) {
    return code == 6 ? MachineMemory[CpuState.HL] : RegisterIn(CpuState, code);
}
inline const char* const OperandName[8] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};

// Distinct values in every register, so a handler that picks the wrong one shows.
inline void FillRegisters() {
    auto& s = CpuState;
    s.AF = 0x11A2;
    s.BC = 0x2233;
    s.DE = 0x4455;
    s.HL = 0x9066;
    s.IX = 0x7788;
    s.IY = 0x99AA;
    s.SP = 0xBBCC;
    s.AF_ = 0xDDEE;
    s.BC_ = 0xF001;
    s.DE_ = 0x1203;
    s.HL_ = 0x3405;
    s.I = 0x56;
    MachineMemory[s.HL] = 0x78;
}

inline void ExpectRegisters(const CpuRegisters& want, const std::string& context) {
    const auto& s = CpuState;
#define LB_FIELD(f) EXPECT_EQ(s.f, want.f) << context << ": register " #f;
    LB_FIELD(AF)
    LB_FIELD(BC)
    LB_FIELD(DE)
    LB_FIELD(HL) LB_FIELD(IX) LB_FIELD(IY) LB_FIELD(SP) LB_FIELD(PC) LB_FIELD(AF_) LB_FIELD(BC_)
        LB_FIELD(DE_) LB_FIELD(HL_) LB_FIELD(I) LB_FIELD(IFF1) LB_FIELD(IFF2) LB_FIELD(IM)
#undef LB_FIELD
}

inline std::vector<uint8_t> MemoryCopy() {
    return std::vector<uint8_t>(MachineMemory, MachineMemory + MemorySize);
}

// Reports the first address that differs, if any.
inline void ExpectMemory(const std::vector<uint8_t>& want, const std::string& context) {
    for (uint32_t a = 0; a < MemorySize; ++a) {
        if (MachineMemory[a] != want[a]) {
            ADD_FAILURE() << context << ": memory at " << std::hex << a << " is "
                          << int(MachineMemory[a]) << ", expected " << int(want[a]);
            return;
        }
    }
}
