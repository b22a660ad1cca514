// The operand model of the instruction tables: the register, pair and condition codes that
// opcodes carry in their bits, and what each code names. All resolved at compile time.
#pragma once

#include "cpu/bus.h"
#include "cpu/cpu_state.h"
#include "cpu/table.h"

#include <cstdint>

// Register codes as the opcodes carry them in bits 5-3 and 2-0; 6 is the byte at HL.
enum : int { REG_B, REG_C, REG_D, REG_E, REG_H, REG_L, REG_iHL, REG_A };
// Pair codes of bits 5-4; PUSH and POP put AF where the others have SP.
enum : int { PAIR_BC, PAIR_DE, PAIR_HL, PAIR_SP, PAIR_AF };
// Condition codes of bits 5-3.
enum : int { COND_NZ, COND_Z, COND_NC, COND_C, COND_PO, COND_PE, COND_P, COND_M };

template <int r> LB_INLINE uint8_t& Register8() {
    static_assert(r >= REG_B && r <= REG_A && r != REG_iHL, "(HL) is not a register");
    auto& s = CpuState;
    if constexpr (r == REG_B)
        return s.B;
    else if constexpr (r == REG_C)
        return s.C;
    else if constexpr (r == REG_D)
        return s.D;
    else if constexpr (r == REG_E)
        return s.E;
    else if constexpr (r == REG_H)
        return s.H;
    else if constexpr (r == REG_L)
        return s.L;
    else
        return s.A;
}

// The operand a register code names: a register, or the byte at the address in HL.
template <int r> LB_INLINE uint8_t ReadOperand() {
    if constexpr (r == REG_iHL)
        return ReadByte(CpuState.HL);
    else
        return Register8<r>();
}
template <int r> LB_INLINE void WriteOperand(uint8_t v) {
    if constexpr (r == REG_iHL)
        WriteByte(CpuState.HL, v);
    else
        Register8<r>() = v;
}

template <int p> LB_INLINE uint16_t& Register16() {
    static_assert(p >= PAIR_BC && p <= PAIR_AF);
    auto& s = CpuState;
    if constexpr (p == PAIR_BC)
        return s.BC;
    else if constexpr (p == PAIR_DE)
        return s.DE;
    else if constexpr (p == PAIR_HL)
        return s.HL;
    else if constexpr (p == PAIR_SP)
        return s.SP;
    else
        return s.AF;
}

// NZ, Z test Z; NC, C test C; PO, PE test P/V; P, M test S. Odd codes hold when the flag is set.
template <int cc> LB_INLINE bool Condition() {
    static_assert(cc >= COND_NZ && cc <= COND_M);
    constexpr uint8_t flag = cc < 2 ? FLAG_Z : cc < 4 ? FLAG_C : cc < 6 ? FLAG_PV : FLAG_S;
    bool set = CpuState.F & flag;
    return (cc & 1) ? set : !set;
}
