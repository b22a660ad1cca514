// The main instruction table: one handler for each first byte, listed in opcode order in
// MAIN_TABLE as X(opcode, T-states, handler, operands...). The loop expands it into one switch with
// the handlers inlined, and the prefix bytes hand over to the other three tables inline as well.
//
// Handler names spell out the instruction and its operand form:
//   r (REG_B .. REG_A, REG_iHL = the byte at HL)   rr (PAIR_BC .. PAIR_AF)   cc (COND_NZ .. COND_M)
//   n, nn   immediate byte, word                    e                         signed displacement
//   iBC iDE iSP inn   the byte or word at the address in that register or at address nn
//   PREFIX_CB ...     hand over to the table of that prefix
// The generic forms (LD_r_r, ALU_r, JP_cc_nn, ...) are templates over a register, pair, condition
// code or operation that the table line names.
//
// How this processor differs from a real Z80: Y and X of F are never computed (the flag rules keep
// them), CCF keeps H, DAA works from its correction table, EI is in force before the next
// instruction, HALT only sets HALTED (the loop does the waiting), there is no R register, and
// IN A,(n) / OUT (n),A address the port by n alone.
#pragma once

#include "cpu/access.h"
#include "cpu/bus.h"
#include "cpu/cb_table.h"
#include "cpu/ed_table.h"
#include "cpu/flags.h"
#include "cpu/index_table.h"
#include "cpu/operands.h"
#include "cpu/table.h"

#include <cstdint>

namespace MainTable {

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
// A taken JR cc,e costs 5 T-states more than one not taken.
template <int cc> LB_INLINE void JR_cc_e(LB_PC) {
    if (Condition<cc>()) {
        t += 5;
        JR_e(pc, t);
    } else {
        pc = uint16_t(pc + 1);
    }
}
LB_INLINE void JP_nn(LB_PC) { pc = FetchWord(pc); }
template <int cc> LB_INLINE void JP_cc_nn(LB_PC) {
    if (Condition<cc>())
        JP_nn(pc, t);
    else
        pc = uint16_t(pc + 2);
}
// The return address is the byte behind the operand.
LB_INLINE void CALL_nn(LB_PC) {
    uint16_t nn = FetchWord(pc);
    Push(pc);
    pc = nn;
}
// A taken CALL cc,nn costs 7 T-states more than one not taken.
template <int cc> LB_INLINE void CALL_cc_nn(LB_PC) {
    if (Condition<cc>()) {
        t += 7;
        CALL_nn(pc, t);
    } else {
        pc = uint16_t(pc + 2);
    }
}
LB_INLINE void RET(LB_PC) { pc = Pop(); }
// A taken RET cc costs 6 T-states more than one not taken.
template <int cc> LB_INLINE void RET_cc(LB_PC) {
    if (Condition<cc>()) {
        t += 6;
        RET(pc, t);
    }
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
LB_INLINE void CPL(LB_PC) {
    CpuState.A = uint8_t(~CpuState.A);
    ComplementFlags();
}
LB_INLINE void SCF(LB_PC) { SetCarryFlags(); }
LB_INLINE void CCF(LB_PC) { ComplementCarryFlags(); }

// A DJNZ that jumps costs 5 T-states more than one that falls through.
LB_INLINE void DJNZ_e(LB_PC) {
    CpuState.B = uint8_t(CpuState.B - 1);
    if (CpuState.B) {
        t += 5;
        JR_e(pc, t);
    } else {
        pc = uint16_t(pc + 1);
    }
}
LB_INLINE void JP_iHL(LB_PC) { pc = CpuState.HL; }

// Exchanges. EX AF,AF' swaps F as a whole, Y and X included.
LB_INLINE void EX_AF_AF(LB_PC) {
    uint16_t x = CpuState.AF;
    CpuState.AF = CpuState.AF_;
    CpuState.AF_ = x;
}
LB_INLINE void EXX(LB_PC) {
    auto& s = CpuState;
    uint16_t x = s.BC;
    s.BC = s.BC_;
    s.BC_ = x;
    x = s.DE;
    s.DE = s.DE_;
    s.DE_ = x;
    x = s.HL;
    s.HL = s.HL_;
    s.HL_ = x;
}
LB_INLINE void EX_DE_HL(LB_PC) {
    uint16_t x = CpuState.DE;
    CpuState.DE = CpuState.HL;
    CpuState.HL = x;
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

// The port number is n alone. An OUT may change HL: the host file service's opens set it.
LB_INLINE void IN_A_in(LB_PC) { CpuState.A = PortRead(FetchByte(pc)); }
LB_INLINE void OUT_in_A(LB_PC) {
    auto& s = CpuState;
    uint8_t n = FetchByte(pc);
    s.HL = PortWrite(n, s.A, {s.B, s.DE, s.HL});
}

// The prefixed tables run on the same pc and t; their lines hold the whole instruction's T-states,
// the prefix included, so the prefix lines here hold 0. Natively all four run inline. In
// WebAssembly the loop must stay small, or the browser's compiler keeps PC and the counts in
// memory instead of registers, which costs every instruction: there DD and FD share one inline
// copy of the index table (see Execute below), and the ED table, rarely run, is a function of its
// own that takes pc and returns it with the T-states above it. The DD and FD lines below are then
// never reached; they call the index table out of line, in the same way.
LB_INLINE void PREFIX_CB(LB_PC) { CbTable::Execute(pc, t); }
#if defined(__wasm__)
template <int prefix> [[gnu::noinline]] uint64_t ExecutePrefixed(uint32_t at) {
    uint16_t pc = uint16_t(at);
    uint64_t t = 0;
    if constexpr (prefix == 0xDD) IndexTable::Execute(pc, t, CpuState.IX);
    if constexpr (prefix == 0xED) EdTable::Execute(pc, t);
    if constexpr (prefix == 0xFD) IndexTable::Execute(pc, t, CpuState.IY);
    return t << 16 | pc;
}
template <int prefix> LB_INLINE void PREFIX(LB_PC) {
    const uint64_t r = ExecutePrefixed<prefix>(pc);
    pc = uint16_t(r);
    t += r >> 16;
}
LB_INLINE void PREFIX_DD(LB_PC) { PREFIX<0xDD>(pc, t); }
LB_INLINE void PREFIX_ED(LB_PC) { PREFIX<0xED>(pc, t); }
LB_INLINE void PREFIX_FD(LB_PC) { PREFIX<0xFD>(pc, t); }
#else
LB_INLINE void PREFIX_DD(LB_PC) { IndexTable::Execute(pc, t, CpuState.IX); }
LB_INLINE void PREFIX_ED(LB_PC) { EdTable::Execute(pc, t); }
LB_INLINE void PREFIX_FD(LB_PC) { IndexTable::Execute(pc, t, CpuState.IY); }
#endif

// One line per opcode: X(opcode, T-states, handler, operands...).
// clang-format off
#define MAIN_TABLE(X) \
    X(0x00, 4, NOP) \
    X(0x01, 10, LD_rr_nn, PAIR_BC) \
    X(0x02, 7, LD_iBC_A) \
    X(0x03, 6, INC_rr, PAIR_BC) \
    X(0x04, 4, INC_r, REG_B) \
    X(0x05, 4, DEC_r, REG_B) \
    X(0x06, 7, LD_r_n, REG_B) \
    X(0x07, 4, RLCA) \
    X(0x08, 4, EX_AF_AF) \
    X(0x09, 11, ADD_HL_rr, PAIR_BC) \
    X(0x0A, 7, LD_A_iBC) \
    X(0x0B, 6, DEC_rr, PAIR_BC) \
    X(0x0C, 4, INC_r, REG_C) \
    X(0x0D, 4, DEC_r, REG_C) \
    X(0x0E, 7, LD_r_n, REG_C) \
    X(0x0F, 4, RRCA) \
    X(0x10, 8, DJNZ_e) \
    X(0x11, 10, LD_rr_nn, PAIR_DE) \
    X(0x12, 7, LD_iDE_A) \
    X(0x13, 6, INC_rr, PAIR_DE) \
    X(0x14, 4, INC_r, REG_D) \
    X(0x15, 4, DEC_r, REG_D) \
    X(0x16, 7, LD_r_n, REG_D) \
    X(0x17, 4, RLA) \
    X(0x18, 12, JR_e) \
    X(0x19, 11, ADD_HL_rr, PAIR_DE) \
    X(0x1A, 7, LD_A_iDE) \
    X(0x1B, 6, DEC_rr, PAIR_DE) \
    X(0x1C, 4, INC_r, REG_E) \
    X(0x1D, 4, DEC_r, REG_E) \
    X(0x1E, 7, LD_r_n, REG_E) \
    X(0x1F, 4, RRA) \
    X(0x20, 7, JR_cc_e, COND_NZ) \
    X(0x21, 10, LD_rr_nn, PAIR_HL) \
    X(0x22, 16, LD_inn_HL) \
    X(0x23, 6, INC_rr, PAIR_HL) \
    X(0x24, 4, INC_r, REG_H) \
    X(0x25, 4, DEC_r, REG_H) \
    X(0x26, 7, LD_r_n, REG_H) \
    X(0x27, 4, DAA) \
    X(0x28, 7, JR_cc_e, COND_Z) \
    X(0x29, 11, ADD_HL_rr, PAIR_HL) \
    X(0x2A, 16, LD_HL_inn) \
    X(0x2B, 6, DEC_rr, PAIR_HL) \
    X(0x2C, 4, INC_r, REG_L) \
    X(0x2D, 4, DEC_r, REG_L) \
    X(0x2E, 7, LD_r_n, REG_L) \
    X(0x2F, 4, CPL) \
    X(0x30, 7, JR_cc_e, COND_NC) \
    X(0x31, 10, LD_rr_nn, PAIR_SP) \
    X(0x32, 13, LD_inn_A) \
    X(0x33, 6, INC_rr, PAIR_SP) \
    X(0x34, 11, INC_r, REG_iHL) \
    X(0x35, 11, DEC_r, REG_iHL) \
    X(0x36, 10, LD_iHL_n) \
    X(0x37, 4, SCF) \
    X(0x38, 7, JR_cc_e, COND_C) \
    X(0x39, 11, ADD_HL_rr, PAIR_SP) \
    X(0x3A, 13, LD_A_inn) \
    X(0x3B, 6, DEC_rr, PAIR_SP) \
    X(0x3C, 4, INC_r, REG_A) \
    X(0x3D, 4, DEC_r, REG_A) \
    X(0x3E, 7, LD_r_n, REG_A) \
    X(0x3F, 4, CCF) \
    X(0x40, 4, LD_r_r, REG_B, REG_B) \
    X(0x41, 4, LD_r_r, REG_B, REG_C) \
    X(0x42, 4, LD_r_r, REG_B, REG_D) \
    X(0x43, 4, LD_r_r, REG_B, REG_E) \
    X(0x44, 4, LD_r_r, REG_B, REG_H) \
    X(0x45, 4, LD_r_r, REG_B, REG_L) \
    X(0x46, 7, LD_r_r, REG_B, REG_iHL) \
    X(0x47, 4, LD_r_r, REG_B, REG_A) \
    X(0x48, 4, LD_r_r, REG_C, REG_B) \
    X(0x49, 4, LD_r_r, REG_C, REG_C) \
    X(0x4A, 4, LD_r_r, REG_C, REG_D) \
    X(0x4B, 4, LD_r_r, REG_C, REG_E) \
    X(0x4C, 4, LD_r_r, REG_C, REG_H) \
    X(0x4D, 4, LD_r_r, REG_C, REG_L) \
    X(0x4E, 7, LD_r_r, REG_C, REG_iHL) \
    X(0x4F, 4, LD_r_r, REG_C, REG_A) \
    X(0x50, 4, LD_r_r, REG_D, REG_B) \
    X(0x51, 4, LD_r_r, REG_D, REG_C) \
    X(0x52, 4, LD_r_r, REG_D, REG_D) \
    X(0x53, 4, LD_r_r, REG_D, REG_E) \
    X(0x54, 4, LD_r_r, REG_D, REG_H) \
    X(0x55, 4, LD_r_r, REG_D, REG_L) \
    X(0x56, 7, LD_r_r, REG_D, REG_iHL) \
    X(0x57, 4, LD_r_r, REG_D, REG_A) \
    X(0x58, 4, LD_r_r, REG_E, REG_B) \
    X(0x59, 4, LD_r_r, REG_E, REG_C) \
    X(0x5A, 4, LD_r_r, REG_E, REG_D) \
    X(0x5B, 4, LD_r_r, REG_E, REG_E) \
    X(0x5C, 4, LD_r_r, REG_E, REG_H) \
    X(0x5D, 4, LD_r_r, REG_E, REG_L) \
    X(0x5E, 7, LD_r_r, REG_E, REG_iHL) \
    X(0x5F, 4, LD_r_r, REG_E, REG_A) \
    X(0x60, 4, LD_r_r, REG_H, REG_B) \
    X(0x61, 4, LD_r_r, REG_H, REG_C) \
    X(0x62, 4, LD_r_r, REG_H, REG_D) \
    X(0x63, 4, LD_r_r, REG_H, REG_E) \
    X(0x64, 4, LD_r_r, REG_H, REG_H) \
    X(0x65, 4, LD_r_r, REG_H, REG_L) \
    X(0x66, 7, LD_r_r, REG_H, REG_iHL) \
    X(0x67, 4, LD_r_r, REG_H, REG_A) \
    X(0x68, 4, LD_r_r, REG_L, REG_B) \
    X(0x69, 4, LD_r_r, REG_L, REG_C) \
    X(0x6A, 4, LD_r_r, REG_L, REG_D) \
    X(0x6B, 4, LD_r_r, REG_L, REG_E) \
    X(0x6C, 4, LD_r_r, REG_L, REG_H) \
    X(0x6D, 4, LD_r_r, REG_L, REG_L) \
    X(0x6E, 7, LD_r_r, REG_L, REG_iHL) \
    X(0x6F, 4, LD_r_r, REG_L, REG_A) \
    X(0x70, 7, LD_r_r, REG_iHL, REG_B) \
    X(0x71, 7, LD_r_r, REG_iHL, REG_C) \
    X(0x72, 7, LD_r_r, REG_iHL, REG_D) \
    X(0x73, 7, LD_r_r, REG_iHL, REG_E) \
    X(0x74, 7, LD_r_r, REG_iHL, REG_H) \
    X(0x75, 7, LD_r_r, REG_iHL, REG_L) \
    X(0x76, 4, HALT) \
    X(0x77, 7, LD_r_r, REG_iHL, REG_A) \
    X(0x78, 4, LD_r_r, REG_A, REG_B) \
    X(0x79, 4, LD_r_r, REG_A, REG_C) \
    X(0x7A, 4, LD_r_r, REG_A, REG_D) \
    X(0x7B, 4, LD_r_r, REG_A, REG_E) \
    X(0x7C, 4, LD_r_r, REG_A, REG_H) \
    X(0x7D, 4, LD_r_r, REG_A, REG_L) \
    X(0x7E, 7, LD_r_r, REG_A, REG_iHL) \
    X(0x7F, 4, LD_r_r, REG_A, REG_A) \
    X(0x80, 4, ALU_r, AddA, REG_B) \
    X(0x81, 4, ALU_r, AddA, REG_C) \
    X(0x82, 4, ALU_r, AddA, REG_D) \
    X(0x83, 4, ALU_r, AddA, REG_E) \
    X(0x84, 4, ALU_r, AddA, REG_H) \
    X(0x85, 4, ALU_r, AddA, REG_L) \
    X(0x86, 7, ALU_r, AddA, REG_iHL) \
    X(0x87, 4, ALU_r, AddA, REG_A) \
    X(0x88, 4, ALU_r, AdcA, REG_B) \
    X(0x89, 4, ALU_r, AdcA, REG_C) \
    X(0x8A, 4, ALU_r, AdcA, REG_D) \
    X(0x8B, 4, ALU_r, AdcA, REG_E) \
    X(0x8C, 4, ALU_r, AdcA, REG_H) \
    X(0x8D, 4, ALU_r, AdcA, REG_L) \
    X(0x8E, 7, ALU_r, AdcA, REG_iHL) \
    X(0x8F, 4, ALU_r, AdcA, REG_A) \
    X(0x90, 4, ALU_r, SubA, REG_B) \
    X(0x91, 4, ALU_r, SubA, REG_C) \
    X(0x92, 4, ALU_r, SubA, REG_D) \
    X(0x93, 4, ALU_r, SubA, REG_E) \
    X(0x94, 4, ALU_r, SubA, REG_H) \
    X(0x95, 4, ALU_r, SubA, REG_L) \
    X(0x96, 7, ALU_r, SubA, REG_iHL) \
    X(0x97, 4, ALU_r, SubA, REG_A) \
    X(0x98, 4, ALU_r, SbcA, REG_B) \
    X(0x99, 4, ALU_r, SbcA, REG_C) \
    X(0x9A, 4, ALU_r, SbcA, REG_D) \
    X(0x9B, 4, ALU_r, SbcA, REG_E) \
    X(0x9C, 4, ALU_r, SbcA, REG_H) \
    X(0x9D, 4, ALU_r, SbcA, REG_L) \
    X(0x9E, 7, ALU_r, SbcA, REG_iHL) \
    X(0x9F, 4, ALU_r, SbcA, REG_A) \
    X(0xA0, 4, ALU_r, AndA, REG_B) \
    X(0xA1, 4, ALU_r, AndA, REG_C) \
    X(0xA2, 4, ALU_r, AndA, REG_D) \
    X(0xA3, 4, ALU_r, AndA, REG_E) \
    X(0xA4, 4, ALU_r, AndA, REG_H) \
    X(0xA5, 4, ALU_r, AndA, REG_L) \
    X(0xA6, 7, ALU_r, AndA, REG_iHL) \
    X(0xA7, 4, ALU_r, AndA, REG_A) \
    X(0xA8, 4, ALU_r, XorA, REG_B) \
    X(0xA9, 4, ALU_r, XorA, REG_C) \
    X(0xAA, 4, ALU_r, XorA, REG_D) \
    X(0xAB, 4, ALU_r, XorA, REG_E) \
    X(0xAC, 4, ALU_r, XorA, REG_H) \
    X(0xAD, 4, ALU_r, XorA, REG_L) \
    X(0xAE, 7, ALU_r, XorA, REG_iHL) \
    X(0xAF, 4, ALU_r, XorA, REG_A) \
    X(0xB0, 4, ALU_r, OrA, REG_B) \
    X(0xB1, 4, ALU_r, OrA, REG_C) \
    X(0xB2, 4, ALU_r, OrA, REG_D) \
    X(0xB3, 4, ALU_r, OrA, REG_E) \
    X(0xB4, 4, ALU_r, OrA, REG_H) \
    X(0xB5, 4, ALU_r, OrA, REG_L) \
    X(0xB6, 7, ALU_r, OrA, REG_iHL) \
    X(0xB7, 4, ALU_r, OrA, REG_A) \
    X(0xB8, 4, ALU_r, CpA, REG_B) \
    X(0xB9, 4, ALU_r, CpA, REG_C) \
    X(0xBA, 4, ALU_r, CpA, REG_D) \
    X(0xBB, 4, ALU_r, CpA, REG_E) \
    X(0xBC, 4, ALU_r, CpA, REG_H) \
    X(0xBD, 4, ALU_r, CpA, REG_L) \
    X(0xBE, 7, ALU_r, CpA, REG_iHL) \
    X(0xBF, 4, ALU_r, CpA, REG_A) \
    X(0xC0, 5, RET_cc, COND_NZ) \
    X(0xC1, 10, POP_rr, PAIR_BC) \
    X(0xC2, 10, JP_cc_nn, COND_NZ) \
    X(0xC3, 10, JP_nn) \
    X(0xC4, 10, CALL_cc_nn, COND_NZ) \
    X(0xC5, 11, PUSH_rr, PAIR_BC) \
    X(0xC6, 7, ALU_n, AddA) \
    X(0xC7, 11, RST_p, 0x00) \
    X(0xC8, 5, RET_cc, COND_Z) \
    X(0xC9, 10, RET) \
    X(0xCA, 10, JP_cc_nn, COND_Z) \
    X(0xCB, 0, PREFIX_CB) \
    X(0xCC, 10, CALL_cc_nn, COND_Z) \
    X(0xCD, 17, CALL_nn) \
    X(0xCE, 7, ALU_n, AdcA) \
    X(0xCF, 11, RST_p, 0x08) \
    X(0xD0, 5, RET_cc, COND_NC) \
    X(0xD1, 10, POP_rr, PAIR_DE) \
    X(0xD2, 10, JP_cc_nn, COND_NC) \
    X(0xD3, 11, OUT_in_A) \
    X(0xD4, 10, CALL_cc_nn, COND_NC) \
    X(0xD5, 11, PUSH_rr, PAIR_DE) \
    X(0xD6, 7, ALU_n, SubA) \
    X(0xD7, 11, RST_p, 0x10) \
    X(0xD8, 5, RET_cc, COND_C) \
    X(0xD9, 4, EXX) \
    X(0xDA, 10, JP_cc_nn, COND_C) \
    X(0xDB, 11, IN_A_in) \
    X(0xDC, 10, CALL_cc_nn, COND_C) \
    X(0xDD, 0, PREFIX_DD) \
    X(0xDE, 7, ALU_n, SbcA) \
    X(0xDF, 11, RST_p, 0x18) \
    X(0xE0, 5, RET_cc, COND_PO) \
    X(0xE1, 10, POP_rr, PAIR_HL) \
    X(0xE2, 10, JP_cc_nn, COND_PO) \
    X(0xE3, 19, EX_iSP_HL) \
    X(0xE4, 10, CALL_cc_nn, COND_PO) \
    X(0xE5, 11, PUSH_rr, PAIR_HL) \
    X(0xE6, 7, ALU_n, AndA) \
    X(0xE7, 11, RST_p, 0x20) \
    X(0xE8, 5, RET_cc, COND_PE) \
    X(0xE9, 4, JP_iHL) \
    X(0xEA, 10, JP_cc_nn, COND_PE) \
    X(0xEB, 4, EX_DE_HL) \
    X(0xEC, 10, CALL_cc_nn, COND_PE) \
    X(0xED, 0, PREFIX_ED) \
    X(0xEE, 7, ALU_n, XorA) \
    X(0xEF, 11, RST_p, 0x28) \
    X(0xF0, 5, RET_cc, COND_P) \
    X(0xF1, 10, POP_rr, PAIR_AF) \
    X(0xF2, 10, JP_cc_nn, COND_P) \
    X(0xF3, 4, DI) \
    X(0xF4, 10, CALL_cc_nn, COND_P) \
    X(0xF5, 11, PUSH_rr, PAIR_AF) \
    X(0xF6, 7, ALU_n, OrA) \
    X(0xF7, 11, RST_p, 0x30) \
    X(0xF8, 5, RET_cc, COND_M) \
    X(0xF9, 6, LD_SP_HL) \
    X(0xFA, 10, JP_cc_nn, COND_M) \
    X(0xFB, 4, EI) \
    X(0xFC, 10, CALL_cc_nn, COND_M) \
    X(0xFD, 0, PREFIX_FD) \
    X(0xFE, 7, ALU_n, CpA) \
    X(0xFF, 11, RST_p, 0x38)
// clang-format on
LB_CHECK_TABLE(MAIN_TABLE);

// Called with pc behind the opcode byte op: one case per table line, every handler inline. In
// WebAssembly the DD and FD cases go to the one copy of the index table, on IX or IY: a test of op
// ahead of the switch instead cost the browser's loop a fifth of its speed.
LB_INLINE void Execute(uint8_t op, uint16_t& pc, uint64_t& t) {
#if defined(__wasm__)
    constexpr bool shared_index = true;
#else
    constexpr bool shared_index = false;
#endif
    uint16_t* xy = nullptr;
    switch (op) {
#define LB_CASE(code, cycles, handler, ...)                                                        \
    case code:                                                                                     \
        if constexpr (shared_index && (code == 0xDD || code == 0xFD)) {                            \
            xy = code == 0xDD ? &CpuState.IX : &CpuState.IY;                                       \
            goto index;                                                                            \
        } else {                                                                                   \
            t += cycles;                                                                           \
            LB_CALL(handler, __VA_ARGS__)(pc, t);                                                  \
        }                                                                                          \
        break;
        MAIN_TABLE(LB_CASE)
#undef LB_CASE
    }
    return;
index:
    IndexTable::Execute(pc, t, *xy);
}

} // namespace MainTable
