// The main instruction table: one handler for each first byte, listed in opcode order in
// MAIN_TABLE. The loop turns the list into one switch (handlers inlined) and into MainTable.
//
// Handler names spell out the instruction and its operand form:
//   B C D E H L A       8-bit registers          BC DE HL SP AF   register pairs
//   n, nn               immediate byte, word     e                signed jump displacement
//   iHL iBC iDE iSP     the byte or word at the address in that register
//   inn                 the byte or word at address nn
//   NZ Z NC C PO PE P M conditions               RST_38           restart to 0x0038
//   PREFIX_CB ...       hand over to the table of that prefix
// The generic forms (LD_r_r, ALU_r, JP_cc_nn, ...) are templates over a register, pair or condition
// code, resolved at compile time; every table slot names a one-line handler built on them.
//
// How this processor differs from a real Z80: Y and X of F are never computed (the flag rules keep
// them), CCF keeps H, DAA works from its correction table, EI is in force before the next
// instruction, HALT only sets HALTED (the loop does the waiting), there is no R register and no
// cycle count, and IN A,(n) / OUT (n),A address the port by n alone.
#pragma once

#include "cpu/flags.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"

#include <cstdint>

// Internal linkage: the other table files may give their own handlers the same names.
namespace {

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

// ---- Generic forms ----

// 8-bit loads. LD H,(HL) and LD L,(HL) take the address before the load.
template <int d, int s> LB_INLINE void LD_r_r() { WriteOperand<d>(ReadOperand<s>()); }
template <int r> LB_INLINE void LD_r_n() { Register8<r>() = FetchByte(); }

// INC and DEC of a register or of the byte at HL (read and written back at the same address).
template <int r> LB_INLINE void INC_r() {
    uint8_t v = uint8_t(ReadOperand<r>() + 1);
    WriteOperand<r>(v);
    IncrementFlags(v);
}
template <int r> LB_INLINE void DEC_r() {
    uint8_t v = uint8_t(ReadOperand<r>() - 1);
    WriteOperand<r>(v);
    DecrementFlags(v);
}

// The eight accumulator operations (AddA .. CpA) on a register, (HL) or an immediate byte.
template <void (*Op)(uint8_t), int r> LB_INLINE void ALU_r() { Op(ReadOperand<r>()); }
template <void (*Op)(uint8_t)> LB_INLINE void ALU_n() { Op(FetchByte()); }

// 16-bit loads and arithmetic; INC rr and DEC rr wrap and leave F alone.
template <int p> LB_INLINE void LD_rr_nn() { Register16<p>() = FetchWord(); }
template <int p> LB_INLINE void INC_rr() { Register16<p>() = uint16_t(Register16<p>() + 1); }
template <int p> LB_INLINE void DEC_rr() { Register16<p>() = uint16_t(Register16<p>() - 1); }
template <int p> LB_INLINE void ADD_HL_rr() { Add16(CpuState.HL, Register16<p>()); }
template <int p> LB_INLINE void PUSH_rr() { Push(Register16<p>()); }
// POP AF loads all of F, Y and X included.
template <int p> LB_INLINE void POP_rr() { Register16<p>() = Pop(); }

// Jumps, calls and returns. PC + e counts from the byte behind the two-byte JR or DJNZ. A
// condition that fails still steps PC over the operand.
LB_INLINE void JR_e() {
    int8_t e = FetchDisplacement();
    CpuState.PC = uint16_t(CpuState.PC + e);
}
template <int cc> LB_INLINE void JR_cc_e() {
    if (Condition<cc>())
        JR_e();
    else
        CpuState.PC = uint16_t(CpuState.PC + 1);
}
LB_INLINE void JP_nn() { CpuState.PC = FetchWord(); }
template <int cc> LB_INLINE void JP_cc_nn() {
    if (Condition<cc>())
        JP_nn();
    else
        CpuState.PC = uint16_t(CpuState.PC + 2);
}
// The return address is the byte behind the operand.
LB_INLINE void CALL_nn() {
    uint16_t nn = FetchWord();
    Push(CpuState.PC);
    CpuState.PC = nn;
}
template <int cc> LB_INLINE void CALL_cc_nn() {
    if (Condition<cc>())
        CALL_nn();
    else
        CpuState.PC = uint16_t(CpuState.PC + 2);
}
LB_INLINE void RET() { CpuState.PC = Pop(); }
template <int cc> LB_INLINE void RET_cc() {
    if (Condition<cc>()) RET();
}
template <uint16_t p> LB_INLINE void RST_p() {
    uint16_t back = CpuState.PC;
    CpuState.PC = p;
    Push(back);
}

// ---- Single handlers ----

LB_INLINE void NOP() {}

// Loads through BC, DE and nn.
LB_INLINE void LD_iBC_A() { WriteByte(CpuState.BC, CpuState.A); }
LB_INLINE void LD_iDE_A() { WriteByte(CpuState.DE, CpuState.A); }
LB_INLINE void LD_A_iBC() { CpuState.A = ReadByte(CpuState.BC); }
LB_INLINE void LD_A_iDE() { CpuState.A = ReadByte(CpuState.DE); }
LB_INLINE void LD_inn_HL() { WriteWord(FetchWord(), CpuState.HL); }
LB_INLINE void LD_HL_inn() { CpuState.HL = ReadWord(FetchWord()); }
LB_INLINE void LD_inn_A() { WriteByte(FetchWord(), CpuState.A); }
LB_INLINE void LD_A_inn() { CpuState.A = ReadByte(FetchWord()); }
// HL is read before n.
LB_INLINE void LD_iHL_n() {
    uint16_t address = CpuState.HL;
    WriteByte(address, FetchByte());
}
LB_INLINE void LD_SP_HL() { CpuState.SP = CpuState.HL; }

// Accumulator rotates: C takes the bit shifted out; S, Z, P/V, Y, X stay.
LB_INLINE void RLCA() {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a << 1 | a >> 7);
    AccumulatorRotateFlags(a >> 7);
}
LB_INLINE void RRCA() {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a >> 1 | a << 7);
    AccumulatorRotateFlags(a & 1);
}
LB_INLINE void RLA() {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a << 1 | (CpuState.F & FLAG_C));
    AccumulatorRotateFlags(a >> 7);
}
LB_INLINE void RRA() {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a >> 1 | (CpuState.F & FLAG_C) << 7);
    AccumulatorRotateFlags(a & 1);
}

LB_INLINE void DAA() { DecimalAdjust(); }
// CPL, SCF and CCF set F directly: each changes only the named bits. CCF keeps H on this machine.
LB_INLINE void CPL() {
    CpuState.A = uint8_t(~CpuState.A);
    CpuState.F |= FLAG_H | FLAG_N;
}
LB_INLINE void SCF() { CpuState.F = uint8_t((CpuState.F & ~(FLAG_H | FLAG_N)) | FLAG_C); }
LB_INLINE void CCF() { CpuState.F = uint8_t((CpuState.F ^ FLAG_C) & ~FLAG_N); }

LB_INLINE void DJNZ_e() {
    CpuState.B = uint8_t(CpuState.B - 1);
    if (CpuState.B)
        JR_e();
    else
        CpuState.PC = uint16_t(CpuState.PC + 1);
}
LB_INLINE void JP_iHL() { CpuState.PC = CpuState.HL; }

// Exchanges. EX AF,AF' swaps F as a whole, Y and X included.
LB_INLINE void EX_AF_AF() {
    uint16_t t = CpuState.AF;
    CpuState.AF = CpuState.AF_;
    CpuState.AF_ = t;
}
LB_INLINE void EXX() {
    auto& s = CpuState;
    uint16_t t = s.BC;
    s.BC = s.BC_;
    s.BC_ = t;
    t = s.DE;
    s.DE = s.DE_;
    s.DE_ = t;
    t = s.HL;
    s.HL = s.HL_;
    s.HL_ = t;
}
LB_INLINE void EX_DE_HL() {
    uint16_t t = CpuState.DE;
    CpuState.DE = CpuState.HL;
    CpuState.HL = t;
}
// Reads the word at SP, writes HL there, then loads HL with the word read.
LB_INLINE void EX_iSP_HL() {
    uint16_t w = ReadWord(CpuState.SP);
    WriteWord(CpuState.SP, CpuState.HL);
    CpuState.HL = w;
}

// The processor stops here; the loop waits for the next tick.
LB_INLINE void HALT() { SetControlFlags(HALTED); }
LB_INLINE void DI() { DisableInterrupts(); }
LB_INLINE void EI() { EnableInterrupts(); }

// The port number is n alone.
LB_INLINE void IN_A_in() { CpuState.A = PortRead(FetchByte()); }
LB_INLINE void OUT_in_A() {
    uint8_t n = FetchByte();
    PortWrite(n, CpuState.A);
}

LB_INLINE void PREFIX_CB() { ExecuteCbInstruction(); }
LB_INLINE void PREFIX_DD() { ExecuteIndexInstruction(CpuState.IX); }
LB_INLINE void PREFIX_ED() { ExecuteEdInstruction(); }
LB_INLINE void PREFIX_FD() { ExecuteIndexInstruction(CpuState.IY); }

// ---- Named forms of the generic handlers, one per table slot ----

// LD rr,nn
LB_INLINE void LD_BC_nn() { LD_rr_nn<PAIR_BC>(); }
LB_INLINE void LD_DE_nn() { LD_rr_nn<PAIR_DE>(); }
LB_INLINE void LD_HL_nn() { LD_rr_nn<PAIR_HL>(); }
LB_INLINE void LD_SP_nn() { LD_rr_nn<PAIR_SP>(); }

// INC rr
LB_INLINE void INC_BC() { INC_rr<PAIR_BC>(); }
LB_INLINE void INC_DE() { INC_rr<PAIR_DE>(); }
LB_INLINE void INC_HL() { INC_rr<PAIR_HL>(); }
LB_INLINE void INC_SP() { INC_rr<PAIR_SP>(); }

// INC r, INC (HL)
LB_INLINE void INC_B() { INC_r<REG_B>(); }
LB_INLINE void INC_C() { INC_r<REG_C>(); }
LB_INLINE void INC_D() { INC_r<REG_D>(); }
LB_INLINE void INC_E() { INC_r<REG_E>(); }
LB_INLINE void INC_H() { INC_r<REG_H>(); }
LB_INLINE void INC_L() { INC_r<REG_L>(); }
LB_INLINE void INC_iHL() { INC_r<REG_iHL>(); }
LB_INLINE void INC_A() { INC_r<REG_A>(); }

// DEC r, DEC (HL)
LB_INLINE void DEC_B() { DEC_r<REG_B>(); }
LB_INLINE void DEC_C() { DEC_r<REG_C>(); }
LB_INLINE void DEC_D() { DEC_r<REG_D>(); }
LB_INLINE void DEC_E() { DEC_r<REG_E>(); }
LB_INLINE void DEC_H() { DEC_r<REG_H>(); }
LB_INLINE void DEC_L() { DEC_r<REG_L>(); }
LB_INLINE void DEC_iHL() { DEC_r<REG_iHL>(); }
LB_INLINE void DEC_A() { DEC_r<REG_A>(); }

// LD r,n
LB_INLINE void LD_B_n() { LD_r_n<REG_B>(); }
LB_INLINE void LD_C_n() { LD_r_n<REG_C>(); }
LB_INLINE void LD_D_n() { LD_r_n<REG_D>(); }
LB_INLINE void LD_E_n() { LD_r_n<REG_E>(); }
LB_INLINE void LD_H_n() { LD_r_n<REG_H>(); }
LB_INLINE void LD_L_n() { LD_r_n<REG_L>(); }
LB_INLINE void LD_A_n() { LD_r_n<REG_A>(); }

// ADD HL,rr
LB_INLINE void ADD_HL_BC() { ADD_HL_rr<PAIR_BC>(); }
LB_INLINE void ADD_HL_DE() { ADD_HL_rr<PAIR_DE>(); }
LB_INLINE void ADD_HL_HL() { ADD_HL_rr<PAIR_HL>(); }
LB_INLINE void ADD_HL_SP() { ADD_HL_rr<PAIR_SP>(); }

// DEC rr
LB_INLINE void DEC_BC() { DEC_rr<PAIR_BC>(); }
LB_INLINE void DEC_DE() { DEC_rr<PAIR_DE>(); }
LB_INLINE void DEC_HL() { DEC_rr<PAIR_HL>(); }
LB_INLINE void DEC_SP() { DEC_rr<PAIR_SP>(); }

// JR cc,e
LB_INLINE void JR_NZ_e() { JR_cc_e<COND_NZ>(); }
LB_INLINE void JR_Z_e() { JR_cc_e<COND_Z>(); }
LB_INLINE void JR_NC_e() { JR_cc_e<COND_NC>(); }
LB_INLINE void JR_C_e() { JR_cc_e<COND_C>(); }

// LD r,r, LD r,(HL), LD (HL),r
LB_INLINE void LD_B_B() { LD_r_r<REG_B, REG_B>(); }
LB_INLINE void LD_B_C() { LD_r_r<REG_B, REG_C>(); }
LB_INLINE void LD_B_D() { LD_r_r<REG_B, REG_D>(); }
LB_INLINE void LD_B_E() { LD_r_r<REG_B, REG_E>(); }
LB_INLINE void LD_B_H() { LD_r_r<REG_B, REG_H>(); }
LB_INLINE void LD_B_L() { LD_r_r<REG_B, REG_L>(); }
LB_INLINE void LD_B_iHL() { LD_r_r<REG_B, REG_iHL>(); }
LB_INLINE void LD_B_A() { LD_r_r<REG_B, REG_A>(); }
LB_INLINE void LD_C_B() { LD_r_r<REG_C, REG_B>(); }
LB_INLINE void LD_C_C() { LD_r_r<REG_C, REG_C>(); }
LB_INLINE void LD_C_D() { LD_r_r<REG_C, REG_D>(); }
LB_INLINE void LD_C_E() { LD_r_r<REG_C, REG_E>(); }
LB_INLINE void LD_C_H() { LD_r_r<REG_C, REG_H>(); }
LB_INLINE void LD_C_L() { LD_r_r<REG_C, REG_L>(); }
LB_INLINE void LD_C_iHL() { LD_r_r<REG_C, REG_iHL>(); }
LB_INLINE void LD_C_A() { LD_r_r<REG_C, REG_A>(); }
LB_INLINE void LD_D_B() { LD_r_r<REG_D, REG_B>(); }
LB_INLINE void LD_D_C() { LD_r_r<REG_D, REG_C>(); }
LB_INLINE void LD_D_D() { LD_r_r<REG_D, REG_D>(); }
LB_INLINE void LD_D_E() { LD_r_r<REG_D, REG_E>(); }
LB_INLINE void LD_D_H() { LD_r_r<REG_D, REG_H>(); }
LB_INLINE void LD_D_L() { LD_r_r<REG_D, REG_L>(); }
LB_INLINE void LD_D_iHL() { LD_r_r<REG_D, REG_iHL>(); }
LB_INLINE void LD_D_A() { LD_r_r<REG_D, REG_A>(); }
LB_INLINE void LD_E_B() { LD_r_r<REG_E, REG_B>(); }
LB_INLINE void LD_E_C() { LD_r_r<REG_E, REG_C>(); }
LB_INLINE void LD_E_D() { LD_r_r<REG_E, REG_D>(); }
LB_INLINE void LD_E_E() { LD_r_r<REG_E, REG_E>(); }
LB_INLINE void LD_E_H() { LD_r_r<REG_E, REG_H>(); }
LB_INLINE void LD_E_L() { LD_r_r<REG_E, REG_L>(); }
LB_INLINE void LD_E_iHL() { LD_r_r<REG_E, REG_iHL>(); }
LB_INLINE void LD_E_A() { LD_r_r<REG_E, REG_A>(); }
LB_INLINE void LD_H_B() { LD_r_r<REG_H, REG_B>(); }
LB_INLINE void LD_H_C() { LD_r_r<REG_H, REG_C>(); }
LB_INLINE void LD_H_D() { LD_r_r<REG_H, REG_D>(); }
LB_INLINE void LD_H_E() { LD_r_r<REG_H, REG_E>(); }
LB_INLINE void LD_H_H() { LD_r_r<REG_H, REG_H>(); }
LB_INLINE void LD_H_L() { LD_r_r<REG_H, REG_L>(); }
LB_INLINE void LD_H_iHL() { LD_r_r<REG_H, REG_iHL>(); }
LB_INLINE void LD_H_A() { LD_r_r<REG_H, REG_A>(); }
LB_INLINE void LD_L_B() { LD_r_r<REG_L, REG_B>(); }
LB_INLINE void LD_L_C() { LD_r_r<REG_L, REG_C>(); }
LB_INLINE void LD_L_D() { LD_r_r<REG_L, REG_D>(); }
LB_INLINE void LD_L_E() { LD_r_r<REG_L, REG_E>(); }
LB_INLINE void LD_L_H() { LD_r_r<REG_L, REG_H>(); }
LB_INLINE void LD_L_L() { LD_r_r<REG_L, REG_L>(); }
LB_INLINE void LD_L_iHL() { LD_r_r<REG_L, REG_iHL>(); }
LB_INLINE void LD_L_A() { LD_r_r<REG_L, REG_A>(); }
LB_INLINE void LD_iHL_B() { LD_r_r<REG_iHL, REG_B>(); }
LB_INLINE void LD_iHL_C() { LD_r_r<REG_iHL, REG_C>(); }
LB_INLINE void LD_iHL_D() { LD_r_r<REG_iHL, REG_D>(); }
LB_INLINE void LD_iHL_E() { LD_r_r<REG_iHL, REG_E>(); }
LB_INLINE void LD_iHL_H() { LD_r_r<REG_iHL, REG_H>(); }
LB_INLINE void LD_iHL_L() { LD_r_r<REG_iHL, REG_L>(); }
LB_INLINE void LD_iHL_A() { LD_r_r<REG_iHL, REG_A>(); }
LB_INLINE void LD_A_B() { LD_r_r<REG_A, REG_B>(); }
LB_INLINE void LD_A_C() { LD_r_r<REG_A, REG_C>(); }
LB_INLINE void LD_A_D() { LD_r_r<REG_A, REG_D>(); }
LB_INLINE void LD_A_E() { LD_r_r<REG_A, REG_E>(); }
LB_INLINE void LD_A_H() { LD_r_r<REG_A, REG_H>(); }
LB_INLINE void LD_A_L() { LD_r_r<REG_A, REG_L>(); }
LB_INLINE void LD_A_iHL() { LD_r_r<REG_A, REG_iHL>(); }
LB_INLINE void LD_A_A() { LD_r_r<REG_A, REG_A>(); }

// ADD A / ADC A / SUB / SBC A / AND / XOR / OR / CP on r and (HL)
LB_INLINE void ADD_A_B() { ALU_r<AddA, REG_B>(); }
LB_INLINE void ADD_A_C() { ALU_r<AddA, REG_C>(); }
LB_INLINE void ADD_A_D() { ALU_r<AddA, REG_D>(); }
LB_INLINE void ADD_A_E() { ALU_r<AddA, REG_E>(); }
LB_INLINE void ADD_A_H() { ALU_r<AddA, REG_H>(); }
LB_INLINE void ADD_A_L() { ALU_r<AddA, REG_L>(); }
LB_INLINE void ADD_A_iHL() { ALU_r<AddA, REG_iHL>(); }
LB_INLINE void ADD_A_A() { ALU_r<AddA, REG_A>(); }
LB_INLINE void ADC_A_B() { ALU_r<AdcA, REG_B>(); }
LB_INLINE void ADC_A_C() { ALU_r<AdcA, REG_C>(); }
LB_INLINE void ADC_A_D() { ALU_r<AdcA, REG_D>(); }
LB_INLINE void ADC_A_E() { ALU_r<AdcA, REG_E>(); }
LB_INLINE void ADC_A_H() { ALU_r<AdcA, REG_H>(); }
LB_INLINE void ADC_A_L() { ALU_r<AdcA, REG_L>(); }
LB_INLINE void ADC_A_iHL() { ALU_r<AdcA, REG_iHL>(); }
LB_INLINE void ADC_A_A() { ALU_r<AdcA, REG_A>(); }
LB_INLINE void SUB_B() { ALU_r<SubA, REG_B>(); }
LB_INLINE void SUB_C() { ALU_r<SubA, REG_C>(); }
LB_INLINE void SUB_D() { ALU_r<SubA, REG_D>(); }
LB_INLINE void SUB_E() { ALU_r<SubA, REG_E>(); }
LB_INLINE void SUB_H() { ALU_r<SubA, REG_H>(); }
LB_INLINE void SUB_L() { ALU_r<SubA, REG_L>(); }
LB_INLINE void SUB_iHL() { ALU_r<SubA, REG_iHL>(); }
LB_INLINE void SUB_A() { ALU_r<SubA, REG_A>(); }
LB_INLINE void SBC_A_B() { ALU_r<SbcA, REG_B>(); }
LB_INLINE void SBC_A_C() { ALU_r<SbcA, REG_C>(); }
LB_INLINE void SBC_A_D() { ALU_r<SbcA, REG_D>(); }
LB_INLINE void SBC_A_E() { ALU_r<SbcA, REG_E>(); }
LB_INLINE void SBC_A_H() { ALU_r<SbcA, REG_H>(); }
LB_INLINE void SBC_A_L() { ALU_r<SbcA, REG_L>(); }
LB_INLINE void SBC_A_iHL() { ALU_r<SbcA, REG_iHL>(); }
LB_INLINE void SBC_A_A() { ALU_r<SbcA, REG_A>(); }
LB_INLINE void AND_B() { ALU_r<AndA, REG_B>(); }
LB_INLINE void AND_C() { ALU_r<AndA, REG_C>(); }
LB_INLINE void AND_D() { ALU_r<AndA, REG_D>(); }
LB_INLINE void AND_E() { ALU_r<AndA, REG_E>(); }
LB_INLINE void AND_H() { ALU_r<AndA, REG_H>(); }
LB_INLINE void AND_L() { ALU_r<AndA, REG_L>(); }
LB_INLINE void AND_iHL() { ALU_r<AndA, REG_iHL>(); }
LB_INLINE void AND_A() { ALU_r<AndA, REG_A>(); }
LB_INLINE void XOR_B() { ALU_r<XorA, REG_B>(); }
LB_INLINE void XOR_C() { ALU_r<XorA, REG_C>(); }
LB_INLINE void XOR_D() { ALU_r<XorA, REG_D>(); }
LB_INLINE void XOR_E() { ALU_r<XorA, REG_E>(); }
LB_INLINE void XOR_H() { ALU_r<XorA, REG_H>(); }
LB_INLINE void XOR_L() { ALU_r<XorA, REG_L>(); }
LB_INLINE void XOR_iHL() { ALU_r<XorA, REG_iHL>(); }
LB_INLINE void XOR_A() { ALU_r<XorA, REG_A>(); }
LB_INLINE void OR_B() { ALU_r<OrA, REG_B>(); }
LB_INLINE void OR_C() { ALU_r<OrA, REG_C>(); }
LB_INLINE void OR_D() { ALU_r<OrA, REG_D>(); }
LB_INLINE void OR_E() { ALU_r<OrA, REG_E>(); }
LB_INLINE void OR_H() { ALU_r<OrA, REG_H>(); }
LB_INLINE void OR_L() { ALU_r<OrA, REG_L>(); }
LB_INLINE void OR_iHL() { ALU_r<OrA, REG_iHL>(); }
LB_INLINE void OR_A() { ALU_r<OrA, REG_A>(); }
LB_INLINE void CP_B() { ALU_r<CpA, REG_B>(); }
LB_INLINE void CP_C() { ALU_r<CpA, REG_C>(); }
LB_INLINE void CP_D() { ALU_r<CpA, REG_D>(); }
LB_INLINE void CP_E() { ALU_r<CpA, REG_E>(); }
LB_INLINE void CP_H() { ALU_r<CpA, REG_H>(); }
LB_INLINE void CP_L() { ALU_r<CpA, REG_L>(); }
LB_INLINE void CP_iHL() { ALU_r<CpA, REG_iHL>(); }
LB_INLINE void CP_A() { ALU_r<CpA, REG_A>(); }

// RET cc
LB_INLINE void RET_NZ() { RET_cc<COND_NZ>(); }
LB_INLINE void RET_Z() { RET_cc<COND_Z>(); }
LB_INLINE void RET_NC() { RET_cc<COND_NC>(); }
LB_INLINE void RET_C() { RET_cc<COND_C>(); }
LB_INLINE void RET_PO() { RET_cc<COND_PO>(); }
LB_INLINE void RET_PE() { RET_cc<COND_PE>(); }
LB_INLINE void RET_P() { RET_cc<COND_P>(); }
LB_INLINE void RET_M() { RET_cc<COND_M>(); }

// POP rr
LB_INLINE void POP_BC() { POP_rr<PAIR_BC>(); }
LB_INLINE void POP_DE() { POP_rr<PAIR_DE>(); }
LB_INLINE void POP_HL() { POP_rr<PAIR_HL>(); }
LB_INLINE void POP_AF() { POP_rr<PAIR_AF>(); }

// JP cc,nn
LB_INLINE void JP_NZ_nn() { JP_cc_nn<COND_NZ>(); }
LB_INLINE void JP_Z_nn() { JP_cc_nn<COND_Z>(); }
LB_INLINE void JP_NC_nn() { JP_cc_nn<COND_NC>(); }
LB_INLINE void JP_C_nn() { JP_cc_nn<COND_C>(); }
LB_INLINE void JP_PO_nn() { JP_cc_nn<COND_PO>(); }
LB_INLINE void JP_PE_nn() { JP_cc_nn<COND_PE>(); }
LB_INLINE void JP_P_nn() { JP_cc_nn<COND_P>(); }
LB_INLINE void JP_M_nn() { JP_cc_nn<COND_M>(); }

// CALL cc,nn
LB_INLINE void CALL_NZ_nn() { CALL_cc_nn<COND_NZ>(); }
LB_INLINE void CALL_Z_nn() { CALL_cc_nn<COND_Z>(); }
LB_INLINE void CALL_NC_nn() { CALL_cc_nn<COND_NC>(); }
LB_INLINE void CALL_C_nn() { CALL_cc_nn<COND_C>(); }
LB_INLINE void CALL_PO_nn() { CALL_cc_nn<COND_PO>(); }
LB_INLINE void CALL_PE_nn() { CALL_cc_nn<COND_PE>(); }
LB_INLINE void CALL_P_nn() { CALL_cc_nn<COND_P>(); }
LB_INLINE void CALL_M_nn() { CALL_cc_nn<COND_M>(); }

// PUSH rr
LB_INLINE void PUSH_BC() { PUSH_rr<PAIR_BC>(); }
LB_INLINE void PUSH_DE() { PUSH_rr<PAIR_DE>(); }
LB_INLINE void PUSH_HL() { PUSH_rr<PAIR_HL>(); }
LB_INLINE void PUSH_AF() { PUSH_rr<PAIR_AF>(); }

// the accumulator operations on n
LB_INLINE void ADD_A_n() { ALU_n<AddA>(); }
LB_INLINE void ADC_A_n() { ALU_n<AdcA>(); }
LB_INLINE void SUB_n() { ALU_n<SubA>(); }
LB_INLINE void SBC_A_n() { ALU_n<SbcA>(); }
LB_INLINE void AND_n() { ALU_n<AndA>(); }
LB_INLINE void XOR_n() { ALU_n<XorA>(); }
LB_INLINE void OR_n() { ALU_n<OrA>(); }
LB_INLINE void CP_n() { ALU_n<CpA>(); }

// RST p
LB_INLINE void RST_00() { RST_p<0x00>(); }
LB_INLINE void RST_08() { RST_p<0x08>(); }
LB_INLINE void RST_10() { RST_p<0x10>(); }
LB_INLINE void RST_18() { RST_p<0x18>(); }
LB_INLINE void RST_20() { RST_p<0x20>(); }
LB_INLINE void RST_28() { RST_p<0x28>(); }
LB_INLINE void RST_30() { RST_p<0x30>(); }
LB_INLINE void RST_38() { RST_p<0x38>(); }

} // namespace

// One line per opcode, 0x00-0xFF in order.
// clang-format off
#define MAIN_TABLE(X) \
    X(0x00, NOP) \
    X(0x01, LD_BC_nn) \
    X(0x02, LD_iBC_A) \
    X(0x03, INC_BC) \
    X(0x04, INC_B) \
    X(0x05, DEC_B) \
    X(0x06, LD_B_n) \
    X(0x07, RLCA) \
    X(0x08, EX_AF_AF) \
    X(0x09, ADD_HL_BC) \
    X(0x0A, LD_A_iBC) \
    X(0x0B, DEC_BC) \
    X(0x0C, INC_C) \
    X(0x0D, DEC_C) \
    X(0x0E, LD_C_n) \
    X(0x0F, RRCA) \
    X(0x10, DJNZ_e) \
    X(0x11, LD_DE_nn) \
    X(0x12, LD_iDE_A) \
    X(0x13, INC_DE) \
    X(0x14, INC_D) \
    X(0x15, DEC_D) \
    X(0x16, LD_D_n) \
    X(0x17, RLA) \
    X(0x18, JR_e) \
    X(0x19, ADD_HL_DE) \
    X(0x1A, LD_A_iDE) \
    X(0x1B, DEC_DE) \
    X(0x1C, INC_E) \
    X(0x1D, DEC_E) \
    X(0x1E, LD_E_n) \
    X(0x1F, RRA) \
    X(0x20, JR_NZ_e) \
    X(0x21, LD_HL_nn) \
    X(0x22, LD_inn_HL) \
    X(0x23, INC_HL) \
    X(0x24, INC_H) \
    X(0x25, DEC_H) \
    X(0x26, LD_H_n) \
    X(0x27, DAA) \
    X(0x28, JR_Z_e) \
    X(0x29, ADD_HL_HL) \
    X(0x2A, LD_HL_inn) \
    X(0x2B, DEC_HL) \
    X(0x2C, INC_L) \
    X(0x2D, DEC_L) \
    X(0x2E, LD_L_n) \
    X(0x2F, CPL) \
    X(0x30, JR_NC_e) \
    X(0x31, LD_SP_nn) \
    X(0x32, LD_inn_A) \
    X(0x33, INC_SP) \
    X(0x34, INC_iHL) \
    X(0x35, DEC_iHL) \
    X(0x36, LD_iHL_n) \
    X(0x37, SCF) \
    X(0x38, JR_C_e) \
    X(0x39, ADD_HL_SP) \
    X(0x3A, LD_A_inn) \
    X(0x3B, DEC_SP) \
    X(0x3C, INC_A) \
    X(0x3D, DEC_A) \
    X(0x3E, LD_A_n) \
    X(0x3F, CCF) \
    X(0x40, LD_B_B) \
    X(0x41, LD_B_C) \
    X(0x42, LD_B_D) \
    X(0x43, LD_B_E) \
    X(0x44, LD_B_H) \
    X(0x45, LD_B_L) \
    X(0x46, LD_B_iHL) \
    X(0x47, LD_B_A) \
    X(0x48, LD_C_B) \
    X(0x49, LD_C_C) \
    X(0x4A, LD_C_D) \
    X(0x4B, LD_C_E) \
    X(0x4C, LD_C_H) \
    X(0x4D, LD_C_L) \
    X(0x4E, LD_C_iHL) \
    X(0x4F, LD_C_A) \
    X(0x50, LD_D_B) \
    X(0x51, LD_D_C) \
    X(0x52, LD_D_D) \
    X(0x53, LD_D_E) \
    X(0x54, LD_D_H) \
    X(0x55, LD_D_L) \
    X(0x56, LD_D_iHL) \
    X(0x57, LD_D_A) \
    X(0x58, LD_E_B) \
    X(0x59, LD_E_C) \
    X(0x5A, LD_E_D) \
    X(0x5B, LD_E_E) \
    X(0x5C, LD_E_H) \
    X(0x5D, LD_E_L) \
    X(0x5E, LD_E_iHL) \
    X(0x5F, LD_E_A) \
    X(0x60, LD_H_B) \
    X(0x61, LD_H_C) \
    X(0x62, LD_H_D) \
    X(0x63, LD_H_E) \
    X(0x64, LD_H_H) \
    X(0x65, LD_H_L) \
    X(0x66, LD_H_iHL) \
    X(0x67, LD_H_A) \
    X(0x68, LD_L_B) \
    X(0x69, LD_L_C) \
    X(0x6A, LD_L_D) \
    X(0x6B, LD_L_E) \
    X(0x6C, LD_L_H) \
    X(0x6D, LD_L_L) \
    X(0x6E, LD_L_iHL) \
    X(0x6F, LD_L_A) \
    X(0x70, LD_iHL_B) \
    X(0x71, LD_iHL_C) \
    X(0x72, LD_iHL_D) \
    X(0x73, LD_iHL_E) \
    X(0x74, LD_iHL_H) \
    X(0x75, LD_iHL_L) \
    X(0x76, HALT) \
    X(0x77, LD_iHL_A) \
    X(0x78, LD_A_B) \
    X(0x79, LD_A_C) \
    X(0x7A, LD_A_D) \
    X(0x7B, LD_A_E) \
    X(0x7C, LD_A_H) \
    X(0x7D, LD_A_L) \
    X(0x7E, LD_A_iHL) \
    X(0x7F, LD_A_A) \
    X(0x80, ADD_A_B) \
    X(0x81, ADD_A_C) \
    X(0x82, ADD_A_D) \
    X(0x83, ADD_A_E) \
    X(0x84, ADD_A_H) \
    X(0x85, ADD_A_L) \
    X(0x86, ADD_A_iHL) \
    X(0x87, ADD_A_A) \
    X(0x88, ADC_A_B) \
    X(0x89, ADC_A_C) \
    X(0x8A, ADC_A_D) \
    X(0x8B, ADC_A_E) \
    X(0x8C, ADC_A_H) \
    X(0x8D, ADC_A_L) \
    X(0x8E, ADC_A_iHL) \
    X(0x8F, ADC_A_A) \
    X(0x90, SUB_B) \
    X(0x91, SUB_C) \
    X(0x92, SUB_D) \
    X(0x93, SUB_E) \
    X(0x94, SUB_H) \
    X(0x95, SUB_L) \
    X(0x96, SUB_iHL) \
    X(0x97, SUB_A) \
    X(0x98, SBC_A_B) \
    X(0x99, SBC_A_C) \
    X(0x9A, SBC_A_D) \
    X(0x9B, SBC_A_E) \
    X(0x9C, SBC_A_H) \
    X(0x9D, SBC_A_L) \
    X(0x9E, SBC_A_iHL) \
    X(0x9F, SBC_A_A) \
    X(0xA0, AND_B) \
    X(0xA1, AND_C) \
    X(0xA2, AND_D) \
    X(0xA3, AND_E) \
    X(0xA4, AND_H) \
    X(0xA5, AND_L) \
    X(0xA6, AND_iHL) \
    X(0xA7, AND_A) \
    X(0xA8, XOR_B) \
    X(0xA9, XOR_C) \
    X(0xAA, XOR_D) \
    X(0xAB, XOR_E) \
    X(0xAC, XOR_H) \
    X(0xAD, XOR_L) \
    X(0xAE, XOR_iHL) \
    X(0xAF, XOR_A) \
    X(0xB0, OR_B) \
    X(0xB1, OR_C) \
    X(0xB2, OR_D) \
    X(0xB3, OR_E) \
    X(0xB4, OR_H) \
    X(0xB5, OR_L) \
    X(0xB6, OR_iHL) \
    X(0xB7, OR_A) \
    X(0xB8, CP_B) \
    X(0xB9, CP_C) \
    X(0xBA, CP_D) \
    X(0xBB, CP_E) \
    X(0xBC, CP_H) \
    X(0xBD, CP_L) \
    X(0xBE, CP_iHL) \
    X(0xBF, CP_A) \
    X(0xC0, RET_NZ) \
    X(0xC1, POP_BC) \
    X(0xC2, JP_NZ_nn) \
    X(0xC3, JP_nn) \
    X(0xC4, CALL_NZ_nn) \
    X(0xC5, PUSH_BC) \
    X(0xC6, ADD_A_n) \
    X(0xC7, RST_00) \
    X(0xC8, RET_Z) \
    X(0xC9, RET) \
    X(0xCA, JP_Z_nn) \
    X(0xCB, PREFIX_CB) \
    X(0xCC, CALL_Z_nn) \
    X(0xCD, CALL_nn) \
    X(0xCE, ADC_A_n) \
    X(0xCF, RST_08) \
    X(0xD0, RET_NC) \
    X(0xD1, POP_DE) \
    X(0xD2, JP_NC_nn) \
    X(0xD3, OUT_in_A) \
    X(0xD4, CALL_NC_nn) \
    X(0xD5, PUSH_DE) \
    X(0xD6, SUB_n) \
    X(0xD7, RST_10) \
    X(0xD8, RET_C) \
    X(0xD9, EXX) \
    X(0xDA, JP_C_nn) \
    X(0xDB, IN_A_in) \
    X(0xDC, CALL_C_nn) \
    X(0xDD, PREFIX_DD) \
    X(0xDE, SBC_A_n) \
    X(0xDF, RST_18) \
    X(0xE0, RET_PO) \
    X(0xE1, POP_HL) \
    X(0xE2, JP_PO_nn) \
    X(0xE3, EX_iSP_HL) \
    X(0xE4, CALL_PO_nn) \
    X(0xE5, PUSH_HL) \
    X(0xE6, AND_n) \
    X(0xE7, RST_20) \
    X(0xE8, RET_PE) \
    X(0xE9, JP_iHL) \
    X(0xEA, JP_PE_nn) \
    X(0xEB, EX_DE_HL) \
    X(0xEC, CALL_PE_nn) \
    X(0xED, PREFIX_ED) \
    X(0xEE, XOR_n) \
    X(0xEF, RST_28) \
    X(0xF0, RET_P) \
    X(0xF1, POP_AF) \
    X(0xF2, JP_P_nn) \
    X(0xF3, DI) \
    X(0xF4, CALL_P_nn) \
    X(0xF5, PUSH_AF) \
    X(0xF6, OR_n) \
    X(0xF7, RST_30) \
    X(0xF8, RET_M) \
    X(0xF9, LD_SP_HL) \
    X(0xFA, JP_M_nn) \
    X(0xFB, EI) \
    X(0xFC, CALL_M_nn) \
    X(0xFD, PREFIX_FD) \
    X(0xFE, CP_n) \
    X(0xFF, RST_38)

// clang-format on

namespace main_table_check {
constexpr uint8_t Codes[] = {
#define LB_CODE(code, name) code,
    MAIN_TABLE(LB_CODE)
#undef LB_CODE
};
static_assert(sizeof Codes == 256, "one entry per opcode");
constexpr bool InOpcodeOrder() {
    for (int i = 0; i < 256; ++i)
        if (Codes[i] != i) return false;
    return true;
}
static_assert(InOpcodeOrder(), "entry i of MAIN_TABLE must have code i");
} // namespace main_table_check
