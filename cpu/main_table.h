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

// Every handler receives PC by reference: the loop keeps it in a local (a host register) rather
// than in CpuState, and writes it back only around calls that leave the loop's function.
#define LB_PC [[maybe_unused]] uint16_t& pc

// The prefixed tables are out of line and work on CpuState.PC.
template <typename Table> LB_INLINE void CallPrefixTable(uint16_t& pc, Table table) {
    CpuState.PC = pc;
    table();
    pc = CpuState.PC;
}

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
template <int d, int s> LB_INLINE void LD_r_r(LB_PC) { WriteOperand<d>(ReadOperand<s>()); }
template <int r> LB_INLINE void LD_r_n(LB_PC) { Register8<r>() = FetchByte(pc); }

// INC and DEC of a register or of the byte at HL (read and written back at the same address).
template <int r> LB_INLINE void INC_r(LB_PC) {
    uint8_t v = uint8_t(ReadOperand<r>() + 1);
    WriteOperand<r>(v);
    IncrementFlags(v);
}
template <int r> LB_INLINE void DEC_r(LB_PC) {
    uint8_t v = uint8_t(ReadOperand<r>() - 1);
    WriteOperand<r>(v);
    DecrementFlags(v);
}

// The eight accumulator operations (AddA .. CpA) on a register, (HL) or an immediate byte.
template <void (*Op)(uint8_t), int r> LB_INLINE void ALU_r(LB_PC) { Op(ReadOperand<r>()); }
template <void (*Op)(uint8_t)> LB_INLINE void ALU_n(LB_PC) { Op(FetchByte(pc)); }

// 16-bit loads and arithmetic; INC rr and DEC rr wrap and leave F alone.
template <int p> LB_INLINE void LD_rr_nn(LB_PC) { Register16<p>() = FetchWord(pc); }
template <int p> LB_INLINE void INC_rr(LB_PC) { Register16<p>() = uint16_t(Register16<p>() + 1); }
template <int p> LB_INLINE void DEC_rr(LB_PC) { Register16<p>() = uint16_t(Register16<p>() - 1); }
template <int p> LB_INLINE void ADD_HL_rr(LB_PC) { Add16(CpuState.HL, Register16<p>()); }
template <int p> LB_INLINE void PUSH_rr(LB_PC) { Push(Register16<p>()); }
// POP AF loads all of F, Y and X included.
template <int p> LB_INLINE void POP_rr(LB_PC) { Register16<p>() = Pop(); }

// Jumps, calls and returns. PC + e counts from the byte behind the two-byte JR or DJNZ. A
// condition that fails still steps PC over the operand.
LB_INLINE void JR_e(LB_PC) {
    int8_t e = FetchDisplacement(pc);
    pc = uint16_t(pc + e);
}
template <int cc> LB_INLINE void JR_cc_e(LB_PC) {
    if (Condition<cc>())
        JR_e(pc);
    else
        pc = uint16_t(pc + 1);
}
LB_INLINE void JP_nn(LB_PC) { pc = FetchWord(pc); }
template <int cc> LB_INLINE void JP_cc_nn(LB_PC) {
    if (Condition<cc>())
        JP_nn(pc);
    else
        pc = uint16_t(pc + 2);
}
// The return address is the byte behind the operand.
LB_INLINE void CALL_nn(LB_PC) {
    uint16_t nn = FetchWord(pc);
    Push(pc);
    pc = nn;
}
template <int cc> LB_INLINE void CALL_cc_nn(LB_PC) {
    if (Condition<cc>())
        CALL_nn(pc);
    else
        pc = uint16_t(pc + 2);
}
LB_INLINE void RET(LB_PC) { pc = Pop(); }
template <int cc> LB_INLINE void RET_cc(LB_PC) {
    if (Condition<cc>()) RET(pc);
}
template <uint16_t p> LB_INLINE void RST_p(LB_PC) {
    uint16_t back = pc;
    pc = p;
    Push(back);
}

// ---- Single handlers ----

LB_INLINE void NOP(LB_PC) {}

// Loads through BC, DE and nn.
LB_INLINE void LD_iBC_A(LB_PC) { WriteByte(CpuState.BC, CpuState.A); }
LB_INLINE void LD_iDE_A(LB_PC) { WriteByte(CpuState.DE, CpuState.A); }
LB_INLINE void LD_A_iBC(LB_PC) { CpuState.A = ReadByte(CpuState.BC); }
LB_INLINE void LD_A_iDE(LB_PC) { CpuState.A = ReadByte(CpuState.DE); }
LB_INLINE void LD_inn_HL(LB_PC) { WriteWord(FetchWord(pc), CpuState.HL); }
LB_INLINE void LD_HL_inn(LB_PC) { CpuState.HL = ReadWord(FetchWord(pc)); }
LB_INLINE void LD_inn_A(LB_PC) { WriteByte(FetchWord(pc), CpuState.A); }
LB_INLINE void LD_A_inn(LB_PC) { CpuState.A = ReadByte(FetchWord(pc)); }
// HL is read before n.
LB_INLINE void LD_iHL_n(LB_PC) {
    uint16_t address = CpuState.HL;
    WriteByte(address, FetchByte(pc));
}
LB_INLINE void LD_SP_HL(LB_PC) { CpuState.SP = CpuState.HL; }

// Accumulator rotates: C takes the bit shifted out; S, Z, P/V, Y, X stay.
LB_INLINE void RLCA(LB_PC) {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a << 1 | a >> 7);
    AccumulatorRotateFlags(a >> 7);
}
LB_INLINE void RRCA(LB_PC) {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a >> 1 | a << 7);
    AccumulatorRotateFlags(a & 1);
}
LB_INLINE void RLA(LB_PC) {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a << 1 | (CpuState.F & FLAG_C));
    AccumulatorRotateFlags(a >> 7);
}
LB_INLINE void RRA(LB_PC) {
    uint8_t a = CpuState.A;
    CpuState.A = uint8_t(a >> 1 | (CpuState.F & FLAG_C) << 7);
    AccumulatorRotateFlags(a & 1);
}

LB_INLINE void DAA(LB_PC) { DecimalAdjust(); }
// CPL, SCF and CCF set F directly: each changes only the named bits. CCF keeps H on this machine.
LB_INLINE void CPL(LB_PC) {
    CpuState.A = uint8_t(~CpuState.A);
    CpuState.F |= FLAG_H | FLAG_N;
}
LB_INLINE void SCF(LB_PC) { CpuState.F = uint8_t((CpuState.F & ~(FLAG_H | FLAG_N)) | FLAG_C); }
LB_INLINE void CCF(LB_PC) { CpuState.F = uint8_t((CpuState.F ^ FLAG_C) & ~FLAG_N); }

LB_INLINE void DJNZ_e(LB_PC) {
    CpuState.B = uint8_t(CpuState.B - 1);
    if (CpuState.B)
        JR_e(pc);
    else
        pc = uint16_t(pc + 1);
}
LB_INLINE void JP_iHL(LB_PC) { pc = CpuState.HL; }

// Exchanges. EX AF,AF' swaps F as a whole, Y and X included.
LB_INLINE void EX_AF_AF(LB_PC) {
    uint16_t t = CpuState.AF;
    CpuState.AF = CpuState.AF_;
    CpuState.AF_ = t;
}
LB_INLINE void EXX(LB_PC) {
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
LB_INLINE void EX_DE_HL(LB_PC) {
    uint16_t t = CpuState.DE;
    CpuState.DE = CpuState.HL;
    CpuState.HL = t;
}
// Reads the word at SP, writes HL there, then loads HL with the word read.
LB_INLINE void EX_iSP_HL(LB_PC) {
    uint16_t w = ReadWord(CpuState.SP);
    WriteWord(CpuState.SP, CpuState.HL);
    CpuState.HL = w;
}

// The processor stops here; the loop waits for the next tick.
LB_INLINE void HALT(LB_PC) { SetControlFlags(HALTED); }
LB_INLINE void DI(LB_PC) { DisableInterrupts(); }
LB_INLINE void EI(LB_PC) { EnableInterrupts(); }

// The port number is n alone.
LB_INLINE void IN_A_in(LB_PC) { CpuState.A = PortRead(FetchByte(pc)); }
LB_INLINE void OUT_in_A(LB_PC) {
    uint8_t n = FetchByte(pc);
    PortWrite(n, CpuState.A);
}

LB_INLINE void PREFIX_CB(LB_PC) { CallPrefixTable(pc, ExecuteCbInstruction); }
LB_INLINE void PREFIX_DD(LB_PC) {
    CallPrefixTable(pc, [] { ExecuteIndexInstruction(CpuState.IX); });
}
LB_INLINE void PREFIX_ED(LB_PC) { CallPrefixTable(pc, ExecuteEdInstruction); }
LB_INLINE void PREFIX_FD(LB_PC) {
    CallPrefixTable(pc, [] { ExecuteIndexInstruction(CpuState.IY); });
}

// ---- Named forms of the generic handlers, one per table slot ----

// LD rr,nn
LB_INLINE void LD_BC_nn(LB_PC) { LD_rr_nn<PAIR_BC>(pc); }
LB_INLINE void LD_DE_nn(LB_PC) { LD_rr_nn<PAIR_DE>(pc); }
LB_INLINE void LD_HL_nn(LB_PC) { LD_rr_nn<PAIR_HL>(pc); }
LB_INLINE void LD_SP_nn(LB_PC) { LD_rr_nn<PAIR_SP>(pc); }

// INC rr
LB_INLINE void INC_BC(LB_PC) { INC_rr<PAIR_BC>(pc); }
LB_INLINE void INC_DE(LB_PC) { INC_rr<PAIR_DE>(pc); }
LB_INLINE void INC_HL(LB_PC) { INC_rr<PAIR_HL>(pc); }
LB_INLINE void INC_SP(LB_PC) { INC_rr<PAIR_SP>(pc); }

// INC r, INC (HL)
LB_INLINE void INC_B(LB_PC) { INC_r<REG_B>(pc); }
LB_INLINE void INC_C(LB_PC) { INC_r<REG_C>(pc); }
LB_INLINE void INC_D(LB_PC) { INC_r<REG_D>(pc); }
LB_INLINE void INC_E(LB_PC) { INC_r<REG_E>(pc); }
LB_INLINE void INC_H(LB_PC) { INC_r<REG_H>(pc); }
LB_INLINE void INC_L(LB_PC) { INC_r<REG_L>(pc); }
LB_INLINE void INC_iHL(LB_PC) { INC_r<REG_iHL>(pc); }
LB_INLINE void INC_A(LB_PC) { INC_r<REG_A>(pc); }

// DEC r, DEC (HL)
LB_INLINE void DEC_B(LB_PC) { DEC_r<REG_B>(pc); }
LB_INLINE void DEC_C(LB_PC) { DEC_r<REG_C>(pc); }
LB_INLINE void DEC_D(LB_PC) { DEC_r<REG_D>(pc); }
LB_INLINE void DEC_E(LB_PC) { DEC_r<REG_E>(pc); }
LB_INLINE void DEC_H(LB_PC) { DEC_r<REG_H>(pc); }
LB_INLINE void DEC_L(LB_PC) { DEC_r<REG_L>(pc); }
LB_INLINE void DEC_iHL(LB_PC) { DEC_r<REG_iHL>(pc); }
LB_INLINE void DEC_A(LB_PC) { DEC_r<REG_A>(pc); }

// LD r,n
LB_INLINE void LD_B_n(LB_PC) { LD_r_n<REG_B>(pc); }
LB_INLINE void LD_C_n(LB_PC) { LD_r_n<REG_C>(pc); }
LB_INLINE void LD_D_n(LB_PC) { LD_r_n<REG_D>(pc); }
LB_INLINE void LD_E_n(LB_PC) { LD_r_n<REG_E>(pc); }
LB_INLINE void LD_H_n(LB_PC) { LD_r_n<REG_H>(pc); }
LB_INLINE void LD_L_n(LB_PC) { LD_r_n<REG_L>(pc); }
LB_INLINE void LD_A_n(LB_PC) { LD_r_n<REG_A>(pc); }

// ADD HL,rr
LB_INLINE void ADD_HL_BC(LB_PC) { ADD_HL_rr<PAIR_BC>(pc); }
LB_INLINE void ADD_HL_DE(LB_PC) { ADD_HL_rr<PAIR_DE>(pc); }
LB_INLINE void ADD_HL_HL(LB_PC) { ADD_HL_rr<PAIR_HL>(pc); }
LB_INLINE void ADD_HL_SP(LB_PC) { ADD_HL_rr<PAIR_SP>(pc); }

// DEC rr
LB_INLINE void DEC_BC(LB_PC) { DEC_rr<PAIR_BC>(pc); }
LB_INLINE void DEC_DE(LB_PC) { DEC_rr<PAIR_DE>(pc); }
LB_INLINE void DEC_HL(LB_PC) { DEC_rr<PAIR_HL>(pc); }
LB_INLINE void DEC_SP(LB_PC) { DEC_rr<PAIR_SP>(pc); }

// JR cc,e
LB_INLINE void JR_NZ_e(LB_PC) { JR_cc_e<COND_NZ>(pc); }
LB_INLINE void JR_Z_e(LB_PC) { JR_cc_e<COND_Z>(pc); }
LB_INLINE void JR_NC_e(LB_PC) { JR_cc_e<COND_NC>(pc); }
LB_INLINE void JR_C_e(LB_PC) { JR_cc_e<COND_C>(pc); }

// LD r,r, LD r,(HL), LD (HL),r
LB_INLINE void LD_B_B(LB_PC) { LD_r_r<REG_B, REG_B>(pc); }
LB_INLINE void LD_B_C(LB_PC) { LD_r_r<REG_B, REG_C>(pc); }
LB_INLINE void LD_B_D(LB_PC) { LD_r_r<REG_B, REG_D>(pc); }
LB_INLINE void LD_B_E(LB_PC) { LD_r_r<REG_B, REG_E>(pc); }
LB_INLINE void LD_B_H(LB_PC) { LD_r_r<REG_B, REG_H>(pc); }
LB_INLINE void LD_B_L(LB_PC) { LD_r_r<REG_B, REG_L>(pc); }
LB_INLINE void LD_B_iHL(LB_PC) { LD_r_r<REG_B, REG_iHL>(pc); }
LB_INLINE void LD_B_A(LB_PC) { LD_r_r<REG_B, REG_A>(pc); }
LB_INLINE void LD_C_B(LB_PC) { LD_r_r<REG_C, REG_B>(pc); }
LB_INLINE void LD_C_C(LB_PC) { LD_r_r<REG_C, REG_C>(pc); }
LB_INLINE void LD_C_D(LB_PC) { LD_r_r<REG_C, REG_D>(pc); }
LB_INLINE void LD_C_E(LB_PC) { LD_r_r<REG_C, REG_E>(pc); }
LB_INLINE void LD_C_H(LB_PC) { LD_r_r<REG_C, REG_H>(pc); }
LB_INLINE void LD_C_L(LB_PC) { LD_r_r<REG_C, REG_L>(pc); }
LB_INLINE void LD_C_iHL(LB_PC) { LD_r_r<REG_C, REG_iHL>(pc); }
LB_INLINE void LD_C_A(LB_PC) { LD_r_r<REG_C, REG_A>(pc); }
LB_INLINE void LD_D_B(LB_PC) { LD_r_r<REG_D, REG_B>(pc); }
LB_INLINE void LD_D_C(LB_PC) { LD_r_r<REG_D, REG_C>(pc); }
LB_INLINE void LD_D_D(LB_PC) { LD_r_r<REG_D, REG_D>(pc); }
LB_INLINE void LD_D_E(LB_PC) { LD_r_r<REG_D, REG_E>(pc); }
LB_INLINE void LD_D_H(LB_PC) { LD_r_r<REG_D, REG_H>(pc); }
LB_INLINE void LD_D_L(LB_PC) { LD_r_r<REG_D, REG_L>(pc); }
LB_INLINE void LD_D_iHL(LB_PC) { LD_r_r<REG_D, REG_iHL>(pc); }
LB_INLINE void LD_D_A(LB_PC) { LD_r_r<REG_D, REG_A>(pc); }
LB_INLINE void LD_E_B(LB_PC) { LD_r_r<REG_E, REG_B>(pc); }
LB_INLINE void LD_E_C(LB_PC) { LD_r_r<REG_E, REG_C>(pc); }
LB_INLINE void LD_E_D(LB_PC) { LD_r_r<REG_E, REG_D>(pc); }
LB_INLINE void LD_E_E(LB_PC) { LD_r_r<REG_E, REG_E>(pc); }
LB_INLINE void LD_E_H(LB_PC) { LD_r_r<REG_E, REG_H>(pc); }
LB_INLINE void LD_E_L(LB_PC) { LD_r_r<REG_E, REG_L>(pc); }
LB_INLINE void LD_E_iHL(LB_PC) { LD_r_r<REG_E, REG_iHL>(pc); }
LB_INLINE void LD_E_A(LB_PC) { LD_r_r<REG_E, REG_A>(pc); }
LB_INLINE void LD_H_B(LB_PC) { LD_r_r<REG_H, REG_B>(pc); }
LB_INLINE void LD_H_C(LB_PC) { LD_r_r<REG_H, REG_C>(pc); }
LB_INLINE void LD_H_D(LB_PC) { LD_r_r<REG_H, REG_D>(pc); }
LB_INLINE void LD_H_E(LB_PC) { LD_r_r<REG_H, REG_E>(pc); }
LB_INLINE void LD_H_H(LB_PC) { LD_r_r<REG_H, REG_H>(pc); }
LB_INLINE void LD_H_L(LB_PC) { LD_r_r<REG_H, REG_L>(pc); }
LB_INLINE void LD_H_iHL(LB_PC) { LD_r_r<REG_H, REG_iHL>(pc); }
LB_INLINE void LD_H_A(LB_PC) { LD_r_r<REG_H, REG_A>(pc); }
LB_INLINE void LD_L_B(LB_PC) { LD_r_r<REG_L, REG_B>(pc); }
LB_INLINE void LD_L_C(LB_PC) { LD_r_r<REG_L, REG_C>(pc); }
LB_INLINE void LD_L_D(LB_PC) { LD_r_r<REG_L, REG_D>(pc); }
LB_INLINE void LD_L_E(LB_PC) { LD_r_r<REG_L, REG_E>(pc); }
LB_INLINE void LD_L_H(LB_PC) { LD_r_r<REG_L, REG_H>(pc); }
LB_INLINE void LD_L_L(LB_PC) { LD_r_r<REG_L, REG_L>(pc); }
LB_INLINE void LD_L_iHL(LB_PC) { LD_r_r<REG_L, REG_iHL>(pc); }
LB_INLINE void LD_L_A(LB_PC) { LD_r_r<REG_L, REG_A>(pc); }
LB_INLINE void LD_iHL_B(LB_PC) { LD_r_r<REG_iHL, REG_B>(pc); }
LB_INLINE void LD_iHL_C(LB_PC) { LD_r_r<REG_iHL, REG_C>(pc); }
LB_INLINE void LD_iHL_D(LB_PC) { LD_r_r<REG_iHL, REG_D>(pc); }
LB_INLINE void LD_iHL_E(LB_PC) { LD_r_r<REG_iHL, REG_E>(pc); }
LB_INLINE void LD_iHL_H(LB_PC) { LD_r_r<REG_iHL, REG_H>(pc); }
LB_INLINE void LD_iHL_L(LB_PC) { LD_r_r<REG_iHL, REG_L>(pc); }
LB_INLINE void LD_iHL_A(LB_PC) { LD_r_r<REG_iHL, REG_A>(pc); }
LB_INLINE void LD_A_B(LB_PC) { LD_r_r<REG_A, REG_B>(pc); }
LB_INLINE void LD_A_C(LB_PC) { LD_r_r<REG_A, REG_C>(pc); }
LB_INLINE void LD_A_D(LB_PC) { LD_r_r<REG_A, REG_D>(pc); }
LB_INLINE void LD_A_E(LB_PC) { LD_r_r<REG_A, REG_E>(pc); }
LB_INLINE void LD_A_H(LB_PC) { LD_r_r<REG_A, REG_H>(pc); }
LB_INLINE void LD_A_L(LB_PC) { LD_r_r<REG_A, REG_L>(pc); }
LB_INLINE void LD_A_iHL(LB_PC) { LD_r_r<REG_A, REG_iHL>(pc); }
LB_INLINE void LD_A_A(LB_PC) { LD_r_r<REG_A, REG_A>(pc); }

// ADD A / ADC A / SUB / SBC A / AND / XOR / OR / CP on r and (HL)
LB_INLINE void ADD_A_B(LB_PC) { ALU_r<AddA, REG_B>(pc); }
LB_INLINE void ADD_A_C(LB_PC) { ALU_r<AddA, REG_C>(pc); }
LB_INLINE void ADD_A_D(LB_PC) { ALU_r<AddA, REG_D>(pc); }
LB_INLINE void ADD_A_E(LB_PC) { ALU_r<AddA, REG_E>(pc); }
LB_INLINE void ADD_A_H(LB_PC) { ALU_r<AddA, REG_H>(pc); }
LB_INLINE void ADD_A_L(LB_PC) { ALU_r<AddA, REG_L>(pc); }
LB_INLINE void ADD_A_iHL(LB_PC) { ALU_r<AddA, REG_iHL>(pc); }
LB_INLINE void ADD_A_A(LB_PC) { ALU_r<AddA, REG_A>(pc); }
LB_INLINE void ADC_A_B(LB_PC) { ALU_r<AdcA, REG_B>(pc); }
LB_INLINE void ADC_A_C(LB_PC) { ALU_r<AdcA, REG_C>(pc); }
LB_INLINE void ADC_A_D(LB_PC) { ALU_r<AdcA, REG_D>(pc); }
LB_INLINE void ADC_A_E(LB_PC) { ALU_r<AdcA, REG_E>(pc); }
LB_INLINE void ADC_A_H(LB_PC) { ALU_r<AdcA, REG_H>(pc); }
LB_INLINE void ADC_A_L(LB_PC) { ALU_r<AdcA, REG_L>(pc); }
LB_INLINE void ADC_A_iHL(LB_PC) { ALU_r<AdcA, REG_iHL>(pc); }
LB_INLINE void ADC_A_A(LB_PC) { ALU_r<AdcA, REG_A>(pc); }
LB_INLINE void SUB_B(LB_PC) { ALU_r<SubA, REG_B>(pc); }
LB_INLINE void SUB_C(LB_PC) { ALU_r<SubA, REG_C>(pc); }
LB_INLINE void SUB_D(LB_PC) { ALU_r<SubA, REG_D>(pc); }
LB_INLINE void SUB_E(LB_PC) { ALU_r<SubA, REG_E>(pc); }
LB_INLINE void SUB_H(LB_PC) { ALU_r<SubA, REG_H>(pc); }
LB_INLINE void SUB_L(LB_PC) { ALU_r<SubA, REG_L>(pc); }
LB_INLINE void SUB_iHL(LB_PC) { ALU_r<SubA, REG_iHL>(pc); }
LB_INLINE void SUB_A(LB_PC) { ALU_r<SubA, REG_A>(pc); }
LB_INLINE void SBC_A_B(LB_PC) { ALU_r<SbcA, REG_B>(pc); }
LB_INLINE void SBC_A_C(LB_PC) { ALU_r<SbcA, REG_C>(pc); }
LB_INLINE void SBC_A_D(LB_PC) { ALU_r<SbcA, REG_D>(pc); }
LB_INLINE void SBC_A_E(LB_PC) { ALU_r<SbcA, REG_E>(pc); }
LB_INLINE void SBC_A_H(LB_PC) { ALU_r<SbcA, REG_H>(pc); }
LB_INLINE void SBC_A_L(LB_PC) { ALU_r<SbcA, REG_L>(pc); }
LB_INLINE void SBC_A_iHL(LB_PC) { ALU_r<SbcA, REG_iHL>(pc); }
LB_INLINE void SBC_A_A(LB_PC) { ALU_r<SbcA, REG_A>(pc); }
LB_INLINE void AND_B(LB_PC) { ALU_r<AndA, REG_B>(pc); }
LB_INLINE void AND_C(LB_PC) { ALU_r<AndA, REG_C>(pc); }
LB_INLINE void AND_D(LB_PC) { ALU_r<AndA, REG_D>(pc); }
LB_INLINE void AND_E(LB_PC) { ALU_r<AndA, REG_E>(pc); }
LB_INLINE void AND_H(LB_PC) { ALU_r<AndA, REG_H>(pc); }
LB_INLINE void AND_L(LB_PC) { ALU_r<AndA, REG_L>(pc); }
LB_INLINE void AND_iHL(LB_PC) { ALU_r<AndA, REG_iHL>(pc); }
LB_INLINE void AND_A(LB_PC) { ALU_r<AndA, REG_A>(pc); }
LB_INLINE void XOR_B(LB_PC) { ALU_r<XorA, REG_B>(pc); }
LB_INLINE void XOR_C(LB_PC) { ALU_r<XorA, REG_C>(pc); }
LB_INLINE void XOR_D(LB_PC) { ALU_r<XorA, REG_D>(pc); }
LB_INLINE void XOR_E(LB_PC) { ALU_r<XorA, REG_E>(pc); }
LB_INLINE void XOR_H(LB_PC) { ALU_r<XorA, REG_H>(pc); }
LB_INLINE void XOR_L(LB_PC) { ALU_r<XorA, REG_L>(pc); }
LB_INLINE void XOR_iHL(LB_PC) { ALU_r<XorA, REG_iHL>(pc); }
LB_INLINE void XOR_A(LB_PC) { ALU_r<XorA, REG_A>(pc); }
LB_INLINE void OR_B(LB_PC) { ALU_r<OrA, REG_B>(pc); }
LB_INLINE void OR_C(LB_PC) { ALU_r<OrA, REG_C>(pc); }
LB_INLINE void OR_D(LB_PC) { ALU_r<OrA, REG_D>(pc); }
LB_INLINE void OR_E(LB_PC) { ALU_r<OrA, REG_E>(pc); }
LB_INLINE void OR_H(LB_PC) { ALU_r<OrA, REG_H>(pc); }
LB_INLINE void OR_L(LB_PC) { ALU_r<OrA, REG_L>(pc); }
LB_INLINE void OR_iHL(LB_PC) { ALU_r<OrA, REG_iHL>(pc); }
LB_INLINE void OR_A(LB_PC) { ALU_r<OrA, REG_A>(pc); }
LB_INLINE void CP_B(LB_PC) { ALU_r<CpA, REG_B>(pc); }
LB_INLINE void CP_C(LB_PC) { ALU_r<CpA, REG_C>(pc); }
LB_INLINE void CP_D(LB_PC) { ALU_r<CpA, REG_D>(pc); }
LB_INLINE void CP_E(LB_PC) { ALU_r<CpA, REG_E>(pc); }
LB_INLINE void CP_H(LB_PC) { ALU_r<CpA, REG_H>(pc); }
LB_INLINE void CP_L(LB_PC) { ALU_r<CpA, REG_L>(pc); }
LB_INLINE void CP_iHL(LB_PC) { ALU_r<CpA, REG_iHL>(pc); }
LB_INLINE void CP_A(LB_PC) { ALU_r<CpA, REG_A>(pc); }

// RET cc
LB_INLINE void RET_NZ(LB_PC) { RET_cc<COND_NZ>(pc); }
LB_INLINE void RET_Z(LB_PC) { RET_cc<COND_Z>(pc); }
LB_INLINE void RET_NC(LB_PC) { RET_cc<COND_NC>(pc); }
LB_INLINE void RET_C(LB_PC) { RET_cc<COND_C>(pc); }
LB_INLINE void RET_PO(LB_PC) { RET_cc<COND_PO>(pc); }
LB_INLINE void RET_PE(LB_PC) { RET_cc<COND_PE>(pc); }
LB_INLINE void RET_P(LB_PC) { RET_cc<COND_P>(pc); }
LB_INLINE void RET_M(LB_PC) { RET_cc<COND_M>(pc); }

// POP rr
LB_INLINE void POP_BC(LB_PC) { POP_rr<PAIR_BC>(pc); }
LB_INLINE void POP_DE(LB_PC) { POP_rr<PAIR_DE>(pc); }
LB_INLINE void POP_HL(LB_PC) { POP_rr<PAIR_HL>(pc); }
LB_INLINE void POP_AF(LB_PC) { POP_rr<PAIR_AF>(pc); }

// JP cc,nn
LB_INLINE void JP_NZ_nn(LB_PC) { JP_cc_nn<COND_NZ>(pc); }
LB_INLINE void JP_Z_nn(LB_PC) { JP_cc_nn<COND_Z>(pc); }
LB_INLINE void JP_NC_nn(LB_PC) { JP_cc_nn<COND_NC>(pc); }
LB_INLINE void JP_C_nn(LB_PC) { JP_cc_nn<COND_C>(pc); }
LB_INLINE void JP_PO_nn(LB_PC) { JP_cc_nn<COND_PO>(pc); }
LB_INLINE void JP_PE_nn(LB_PC) { JP_cc_nn<COND_PE>(pc); }
LB_INLINE void JP_P_nn(LB_PC) { JP_cc_nn<COND_P>(pc); }
LB_INLINE void JP_M_nn(LB_PC) { JP_cc_nn<COND_M>(pc); }

// CALL cc,nn
LB_INLINE void CALL_NZ_nn(LB_PC) { CALL_cc_nn<COND_NZ>(pc); }
LB_INLINE void CALL_Z_nn(LB_PC) { CALL_cc_nn<COND_Z>(pc); }
LB_INLINE void CALL_NC_nn(LB_PC) { CALL_cc_nn<COND_NC>(pc); }
LB_INLINE void CALL_C_nn(LB_PC) { CALL_cc_nn<COND_C>(pc); }
LB_INLINE void CALL_PO_nn(LB_PC) { CALL_cc_nn<COND_PO>(pc); }
LB_INLINE void CALL_PE_nn(LB_PC) { CALL_cc_nn<COND_PE>(pc); }
LB_INLINE void CALL_P_nn(LB_PC) { CALL_cc_nn<COND_P>(pc); }
LB_INLINE void CALL_M_nn(LB_PC) { CALL_cc_nn<COND_M>(pc); }

// PUSH rr
LB_INLINE void PUSH_BC(LB_PC) { PUSH_rr<PAIR_BC>(pc); }
LB_INLINE void PUSH_DE(LB_PC) { PUSH_rr<PAIR_DE>(pc); }
LB_INLINE void PUSH_HL(LB_PC) { PUSH_rr<PAIR_HL>(pc); }
LB_INLINE void PUSH_AF(LB_PC) { PUSH_rr<PAIR_AF>(pc); }

// the accumulator operations on n
LB_INLINE void ADD_A_n(LB_PC) { ALU_n<AddA>(pc); }
LB_INLINE void ADC_A_n(LB_PC) { ALU_n<AdcA>(pc); }
LB_INLINE void SUB_n(LB_PC) { ALU_n<SubA>(pc); }
LB_INLINE void SBC_A_n(LB_PC) { ALU_n<SbcA>(pc); }
LB_INLINE void AND_n(LB_PC) { ALU_n<AndA>(pc); }
LB_INLINE void XOR_n(LB_PC) { ALU_n<XorA>(pc); }
LB_INLINE void OR_n(LB_PC) { ALU_n<OrA>(pc); }
LB_INLINE void CP_n(LB_PC) { ALU_n<CpA>(pc); }

// RST p
LB_INLINE void RST_00(LB_PC) { RST_p<0x00>(pc); }
LB_INLINE void RST_08(LB_PC) { RST_p<0x08>(pc); }
LB_INLINE void RST_10(LB_PC) { RST_p<0x10>(pc); }
LB_INLINE void RST_18(LB_PC) { RST_p<0x18>(pc); }
LB_INLINE void RST_20(LB_PC) { RST_p<0x20>(pc); }
LB_INLINE void RST_28(LB_PC) { RST_p<0x28>(pc); }
LB_INLINE void RST_30(LB_PC) { RST_p<0x30>(pc); }
LB_INLINE void RST_38(LB_PC) { RST_p<0x38>(pc); }

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
