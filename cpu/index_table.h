// The DD (IX) and FD (IY) tables. One table serves both prefixes: the handler gets the chosen index
// register as XY and never touches the other one. Only the documented forms run; the halves of the
// index registers, a prefix before an instruction without HL or (HL), a prefix before a prefix and
// the bit forms that also copy into a register stall: PC goes back to the prefix, nothing else
// changes.
//
// Legend: XY the index register, (XY+d) the byte at XY plus the signed displacement d (modulo
// 65,536), n an immediate byte, nn an immediate word (low byte first), (nn) the word at nn, (SP)
// the word at SP. Handler names: i = indirect, so LD_iXYd_n is LD (XY+d),n.
#pragma once

#include "cpu/access.h"
#include "cpu/flags.h"
#include "cpu/operands.h"
#include "cpu/table.h"

#include <cstdint>

namespace IndexTable {

#define LB_XY LB_PC, uint16_t& XY

// Fetches d and returns the address of (XY+d); wraps at either end of the address space.
LB_INLINE uint16_t FetchIndexedAddress(uint16_t& pc, uint16_t XY) {
    return uint16_t(XY + FetchDisplacement(pc));
}

// ADD XY,XY in the HL slot: the index register is added to itself.
template <int p> LB_INLINE void ADD_XY_rr(LB_XY) {
    if constexpr (p == PAIR_HL)
        Add16(XY, XY);
    else
        Add16(XY, Register16<p>());
}
LB_INLINE void LD_XY_nn(LB_XY) { XY = FetchWord(pc); }
LB_INLINE void LD_inn_XY(LB_XY) { WriteWord(FetchWord(pc), XY); }
LB_INLINE void LD_XY_inn(LB_XY) { XY = ReadWord(FetchWord(pc)); }
LB_INLINE void INC_XY(LB_XY) { XY = uint16_t(XY + 1); }
LB_INLINE void DEC_XY(LB_XY) { XY = uint16_t(XY - 1); }

LB_INLINE void INC_iXYd(LB_XY) {
    uint16_t ea = FetchIndexedAddress(pc, XY);
    uint8_t v = uint8_t(ReadByte(ea) + 1);
    WriteByte(ea, v);
    IncrementFlags(v);
}
LB_INLINE void DEC_iXYd(LB_XY) {
    uint16_t ea = FetchIndexedAddress(pc, XY);
    uint8_t v = uint8_t(ReadByte(ea) - 1);
    WriteByte(ea, v);
    DecrementFlags(v);
}
// d comes before n in the instruction.
LB_INLINE void LD_iXYd_n(LB_XY) {
    uint16_t ea = FetchIndexedAddress(pc, XY);
    WriteByte(ea, FetchByte(pc));
}

// H and L here are the registers H and L, never halves of XY.
template <int r> LB_INLINE void LD_r_iXYd(LB_XY) {
    Register8<r>() = ReadByte(FetchIndexedAddress(pc, XY));
}
template <int r> LB_INLINE void LD_iXYd_r(LB_XY) {
    WriteByte(FetchIndexedAddress(pc, XY), Register8<r>());
}
template <void (*Op)(uint8_t)> LB_INLINE void ALU_iXYd(LB_XY) {
    Op(ReadByte(FetchIndexedAddress(pc, XY)));
}

LB_INLINE void POP_XY(LB_XY) { XY = Pop(); }
LB_INLINE void PUSH_XY(LB_XY) { Push(XY); }
LB_INLINE void EX_iSP_XY(LB_XY) {
    uint16_t w = ReadWord(CpuState.SP);
    WriteWord(CpuState.SP, XY);
    XY = w;
}
// Jumps to the address XY holds; no memory is read.
LB_INLINE void JP_iXY(LB_XY) { pc = XY; }
LB_INLINE void LD_SP_XY(LB_XY) { CpuState.SP = XY; }

// The bit group, prefix CB d op: the handler gets ea, the address of (XY+d). Rotates, shifts, RES
// and SET write only the byte at ea.
#define LB_EA LB_PC, uint16_t& ea
template <uint8_t (*Op)(uint8_t)> LB_INLINE void SHIFT_iXYd(LB_EA) {
    WriteByte(ea, Op(ReadByte(ea)));
}
template <int b> LB_INLINE void BIT_b_iXYd(LB_EA) { BitTest(ReadByte(ea), b); }
template <int b> LB_INLINE void RES_b_iXYd(LB_EA) {
    WriteByte(ea, uint8_t(ReadByte(ea) & ~(1u << b)));
}
template <int b> LB_INLINE void SET_b_iXYd(LB_EA) {
    WriteByte(ea, uint8_t(ReadByte(ea) | 1u << b));
}

// Fourth byte of prefix, CB, d, op: X(opcode, T-states, handler, operands...).
// clang-format off
#define INDEX_BIT_TABLE(X) \
    X(0x00, 16, STALL, 4) \
    X(0x01, 16, STALL, 4) \
    X(0x02, 16, STALL, 4) \
    X(0x03, 16, STALL, 4) \
    X(0x04, 16, STALL, 4) \
    X(0x05, 16, STALL, 4) \
    X(0x06, 23, SHIFT_iXYd, OpRLC) \
    X(0x07, 16, STALL, 4) \
    X(0x08, 16, STALL, 4) \
    X(0x09, 16, STALL, 4) \
    X(0x0A, 16, STALL, 4) \
    X(0x0B, 16, STALL, 4) \
    X(0x0C, 16, STALL, 4) \
    X(0x0D, 16, STALL, 4) \
    X(0x0E, 23, SHIFT_iXYd, OpRRC) \
    X(0x0F, 16, STALL, 4) \
    X(0x10, 16, STALL, 4) \
    X(0x11, 16, STALL, 4) \
    X(0x12, 16, STALL, 4) \
    X(0x13, 16, STALL, 4) \
    X(0x14, 16, STALL, 4) \
    X(0x15, 16, STALL, 4) \
    X(0x16, 23, SHIFT_iXYd, OpRL) \
    X(0x17, 16, STALL, 4) \
    X(0x18, 16, STALL, 4) \
    X(0x19, 16, STALL, 4) \
    X(0x1A, 16, STALL, 4) \
    X(0x1B, 16, STALL, 4) \
    X(0x1C, 16, STALL, 4) \
    X(0x1D, 16, STALL, 4) \
    X(0x1E, 23, SHIFT_iXYd, OpRR) \
    X(0x1F, 16, STALL, 4) \
    X(0x20, 16, STALL, 4) \
    X(0x21, 16, STALL, 4) \
    X(0x22, 16, STALL, 4) \
    X(0x23, 16, STALL, 4) \
    X(0x24, 16, STALL, 4) \
    X(0x25, 16, STALL, 4) \
    X(0x26, 23, SHIFT_iXYd, OpSLA) \
    X(0x27, 16, STALL, 4) \
    X(0x28, 16, STALL, 4) \
    X(0x29, 16, STALL, 4) \
    X(0x2A, 16, STALL, 4) \
    X(0x2B, 16, STALL, 4) \
    X(0x2C, 16, STALL, 4) \
    X(0x2D, 16, STALL, 4) \
    X(0x2E, 23, SHIFT_iXYd, OpSRA) \
    X(0x2F, 16, STALL, 4) \
    X(0x30, 16, STALL, 4) \
    X(0x31, 16, STALL, 4) \
    X(0x32, 16, STALL, 4) \
    X(0x33, 16, STALL, 4) \
    X(0x34, 16, STALL, 4) \
    X(0x35, 16, STALL, 4) \
    X(0x36, 16, STALL, 4) \
    X(0x37, 16, STALL, 4) \
    X(0x38, 16, STALL, 4) \
    X(0x39, 16, STALL, 4) \
    X(0x3A, 16, STALL, 4) \
    X(0x3B, 16, STALL, 4) \
    X(0x3C, 16, STALL, 4) \
    X(0x3D, 16, STALL, 4) \
    X(0x3E, 23, SHIFT_iXYd, OpSRL) \
    X(0x3F, 16, STALL, 4) \
    X(0x40, 16, STALL, 4) \
    X(0x41, 16, STALL, 4) \
    X(0x42, 16, STALL, 4) \
    X(0x43, 16, STALL, 4) \
    X(0x44, 16, STALL, 4) \
    X(0x45, 16, STALL, 4) \
    X(0x46, 20, BIT_b_iXYd, 0) \
    X(0x47, 16, STALL, 4) \
    X(0x48, 16, STALL, 4) \
    X(0x49, 16, STALL, 4) \
    X(0x4A, 16, STALL, 4) \
    X(0x4B, 16, STALL, 4) \
    X(0x4C, 16, STALL, 4) \
    X(0x4D, 16, STALL, 4) \
    X(0x4E, 20, BIT_b_iXYd, 1) \
    X(0x4F, 16, STALL, 4) \
    X(0x50, 16, STALL, 4) \
    X(0x51, 16, STALL, 4) \
    X(0x52, 16, STALL, 4) \
    X(0x53, 16, STALL, 4) \
    X(0x54, 16, STALL, 4) \
    X(0x55, 16, STALL, 4) \
    X(0x56, 20, BIT_b_iXYd, 2) \
    X(0x57, 16, STALL, 4) \
    X(0x58, 16, STALL, 4) \
    X(0x59, 16, STALL, 4) \
    X(0x5A, 16, STALL, 4) \
    X(0x5B, 16, STALL, 4) \
    X(0x5C, 16, STALL, 4) \
    X(0x5D, 16, STALL, 4) \
    X(0x5E, 20, BIT_b_iXYd, 3) \
    X(0x5F, 16, STALL, 4) \
    X(0x60, 16, STALL, 4) \
    X(0x61, 16, STALL, 4) \
    X(0x62, 16, STALL, 4) \
    X(0x63, 16, STALL, 4) \
    X(0x64, 16, STALL, 4) \
    X(0x65, 16, STALL, 4) \
    X(0x66, 20, BIT_b_iXYd, 4) \
    X(0x67, 16, STALL, 4) \
    X(0x68, 16, STALL, 4) \
    X(0x69, 16, STALL, 4) \
    X(0x6A, 16, STALL, 4) \
    X(0x6B, 16, STALL, 4) \
    X(0x6C, 16, STALL, 4) \
    X(0x6D, 16, STALL, 4) \
    X(0x6E, 20, BIT_b_iXYd, 5) \
    X(0x6F, 16, STALL, 4) \
    X(0x70, 16, STALL, 4) \
    X(0x71, 16, STALL, 4) \
    X(0x72, 16, STALL, 4) \
    X(0x73, 16, STALL, 4) \
    X(0x74, 16, STALL, 4) \
    X(0x75, 16, STALL, 4) \
    X(0x76, 20, BIT_b_iXYd, 6) \
    X(0x77, 16, STALL, 4) \
    X(0x78, 16, STALL, 4) \
    X(0x79, 16, STALL, 4) \
    X(0x7A, 16, STALL, 4) \
    X(0x7B, 16, STALL, 4) \
    X(0x7C, 16, STALL, 4) \
    X(0x7D, 16, STALL, 4) \
    X(0x7E, 20, BIT_b_iXYd, 7) \
    X(0x7F, 16, STALL, 4) \
    X(0x80, 16, STALL, 4) \
    X(0x81, 16, STALL, 4) \
    X(0x82, 16, STALL, 4) \
    X(0x83, 16, STALL, 4) \
    X(0x84, 16, STALL, 4) \
    X(0x85, 16, STALL, 4) \
    X(0x86, 23, RES_b_iXYd, 0) \
    X(0x87, 16, STALL, 4) \
    X(0x88, 16, STALL, 4) \
    X(0x89, 16, STALL, 4) \
    X(0x8A, 16, STALL, 4) \
    X(0x8B, 16, STALL, 4) \
    X(0x8C, 16, STALL, 4) \
    X(0x8D, 16, STALL, 4) \
    X(0x8E, 23, RES_b_iXYd, 1) \
    X(0x8F, 16, STALL, 4) \
    X(0x90, 16, STALL, 4) \
    X(0x91, 16, STALL, 4) \
    X(0x92, 16, STALL, 4) \
    X(0x93, 16, STALL, 4) \
    X(0x94, 16, STALL, 4) \
    X(0x95, 16, STALL, 4) \
    X(0x96, 23, RES_b_iXYd, 2) \
    X(0x97, 16, STALL, 4) \
    X(0x98, 16, STALL, 4) \
    X(0x99, 16, STALL, 4) \
    X(0x9A, 16, STALL, 4) \
    X(0x9B, 16, STALL, 4) \
    X(0x9C, 16, STALL, 4) \
    X(0x9D, 16, STALL, 4) \
    X(0x9E, 23, RES_b_iXYd, 3) \
    X(0x9F, 16, STALL, 4) \
    X(0xA0, 16, STALL, 4) \
    X(0xA1, 16, STALL, 4) \
    X(0xA2, 16, STALL, 4) \
    X(0xA3, 16, STALL, 4) \
    X(0xA4, 16, STALL, 4) \
    X(0xA5, 16, STALL, 4) \
    X(0xA6, 23, RES_b_iXYd, 4) \
    X(0xA7, 16, STALL, 4) \
    X(0xA8, 16, STALL, 4) \
    X(0xA9, 16, STALL, 4) \
    X(0xAA, 16, STALL, 4) \
    X(0xAB, 16, STALL, 4) \
    X(0xAC, 16, STALL, 4) \
    X(0xAD, 16, STALL, 4) \
    X(0xAE, 23, RES_b_iXYd, 5) \
    X(0xAF, 16, STALL, 4) \
    X(0xB0, 16, STALL, 4) \
    X(0xB1, 16, STALL, 4) \
    X(0xB2, 16, STALL, 4) \
    X(0xB3, 16, STALL, 4) \
    X(0xB4, 16, STALL, 4) \
    X(0xB5, 16, STALL, 4) \
    X(0xB6, 23, RES_b_iXYd, 6) \
    X(0xB7, 16, STALL, 4) \
    X(0xB8, 16, STALL, 4) \
    X(0xB9, 16, STALL, 4) \
    X(0xBA, 16, STALL, 4) \
    X(0xBB, 16, STALL, 4) \
    X(0xBC, 16, STALL, 4) \
    X(0xBD, 16, STALL, 4) \
    X(0xBE, 23, RES_b_iXYd, 7) \
    X(0xBF, 16, STALL, 4) \
    X(0xC0, 16, STALL, 4) \
    X(0xC1, 16, STALL, 4) \
    X(0xC2, 16, STALL, 4) \
    X(0xC3, 16, STALL, 4) \
    X(0xC4, 16, STALL, 4) \
    X(0xC5, 16, STALL, 4) \
    X(0xC6, 23, SET_b_iXYd, 0) \
    X(0xC7, 16, STALL, 4) \
    X(0xC8, 16, STALL, 4) \
    X(0xC9, 16, STALL, 4) \
    X(0xCA, 16, STALL, 4) \
    X(0xCB, 16, STALL, 4) \
    X(0xCC, 16, STALL, 4) \
    X(0xCD, 16, STALL, 4) \
    X(0xCE, 23, SET_b_iXYd, 1) \
    X(0xCF, 16, STALL, 4) \
    X(0xD0, 16, STALL, 4) \
    X(0xD1, 16, STALL, 4) \
    X(0xD2, 16, STALL, 4) \
    X(0xD3, 16, STALL, 4) \
    X(0xD4, 16, STALL, 4) \
    X(0xD5, 16, STALL, 4) \
    X(0xD6, 23, SET_b_iXYd, 2) \
    X(0xD7, 16, STALL, 4) \
    X(0xD8, 16, STALL, 4) \
    X(0xD9, 16, STALL, 4) \
    X(0xDA, 16, STALL, 4) \
    X(0xDB, 16, STALL, 4) \
    X(0xDC, 16, STALL, 4) \
    X(0xDD, 16, STALL, 4) \
    X(0xDE, 23, SET_b_iXYd, 3) \
    X(0xDF, 16, STALL, 4) \
    X(0xE0, 16, STALL, 4) \
    X(0xE1, 16, STALL, 4) \
    X(0xE2, 16, STALL, 4) \
    X(0xE3, 16, STALL, 4) \
    X(0xE4, 16, STALL, 4) \
    X(0xE5, 16, STALL, 4) \
    X(0xE6, 23, SET_b_iXYd, 4) \
    X(0xE7, 16, STALL, 4) \
    X(0xE8, 16, STALL, 4) \
    X(0xE9, 16, STALL, 4) \
    X(0xEA, 16, STALL, 4) \
    X(0xEB, 16, STALL, 4) \
    X(0xEC, 16, STALL, 4) \
    X(0xED, 16, STALL, 4) \
    X(0xEE, 23, SET_b_iXYd, 5) \
    X(0xEF, 16, STALL, 4) \
    X(0xF0, 16, STALL, 4) \
    X(0xF1, 16, STALL, 4) \
    X(0xF2, 16, STALL, 4) \
    X(0xF3, 16, STALL, 4) \
    X(0xF4, 16, STALL, 4) \
    X(0xF5, 16, STALL, 4) \
    X(0xF6, 23, SET_b_iXYd, 6) \
    X(0xF7, 16, STALL, 4) \
    X(0xF8, 16, STALL, 4) \
    X(0xF9, 16, STALL, 4) \
    X(0xFA, 16, STALL, 4) \
    X(0xFB, 16, STALL, 4) \
    X(0xFC, 16, STALL, 4) \
    X(0xFD, 16, STALL, 4) \
    X(0xFE, 23, SET_b_iXYd, 7) \
    X(0xFF, 16, STALL, 4)
// clang-format on
LB_CHECK_TABLE(INDEX_BIT_TABLE);

// d is read before the op byte that selects the instruction.
LB_INLINE void BIT_GROUP(LB_XY) {
    uint16_t ea = FetchIndexedAddress(pc, XY);
    switch (FetchByte(pc)) {
#define LB_CASE(code, cycles, handler, ...)                                                        \
    case code:                                                                                     \
        t += cycles;                                                                               \
        LB_CALL(handler, __VA_ARGS__)(pc, t, ea);                                                  \
        break;
        INDEX_BIT_TABLE(LB_CASE)
#undef LB_CASE
    }
}

// Second byte after DD or FD: X(opcode, T-states, handler, operands...).
// clang-format off
#define INDEX_TABLE(X) \
    X(0x00, 8, STALL, 2) \
    X(0x01, 8, STALL, 2) \
    X(0x02, 8, STALL, 2) \
    X(0x03, 8, STALL, 2) \
    X(0x04, 8, STALL, 2) \
    X(0x05, 8, STALL, 2) \
    X(0x06, 8, STALL, 2) \
    X(0x07, 8, STALL, 2) \
    X(0x08, 8, STALL, 2) \
    X(0x09, 15, ADD_XY_rr, PAIR_BC) \
    X(0x0A, 8, STALL, 2) \
    X(0x0B, 8, STALL, 2) \
    X(0x0C, 8, STALL, 2) \
    X(0x0D, 8, STALL, 2) \
    X(0x0E, 8, STALL, 2) \
    X(0x0F, 8, STALL, 2) \
    X(0x10, 8, STALL, 2) \
    X(0x11, 8, STALL, 2) \
    X(0x12, 8, STALL, 2) \
    X(0x13, 8, STALL, 2) \
    X(0x14, 8, STALL, 2) \
    X(0x15, 8, STALL, 2) \
    X(0x16, 8, STALL, 2) \
    X(0x17, 8, STALL, 2) \
    X(0x18, 8, STALL, 2) \
    X(0x19, 15, ADD_XY_rr, PAIR_DE) \
    X(0x1A, 8, STALL, 2) \
    X(0x1B, 8, STALL, 2) \
    X(0x1C, 8, STALL, 2) \
    X(0x1D, 8, STALL, 2) \
    X(0x1E, 8, STALL, 2) \
    X(0x1F, 8, STALL, 2) \
    X(0x20, 8, STALL, 2) \
    X(0x21, 14, LD_XY_nn) \
    X(0x22, 20, LD_inn_XY) \
    X(0x23, 10, INC_XY) \
    X(0x24, 8, STALL, 2) \
    X(0x25, 8, STALL, 2) \
    X(0x26, 8, STALL, 2) \
    X(0x27, 8, STALL, 2) \
    X(0x28, 8, STALL, 2) \
    X(0x29, 15, ADD_XY_rr, PAIR_HL) \
    X(0x2A, 20, LD_XY_inn) \
    X(0x2B, 10, DEC_XY) \
    X(0x2C, 8, STALL, 2) \
    X(0x2D, 8, STALL, 2) \
    X(0x2E, 8, STALL, 2) \
    X(0x2F, 8, STALL, 2) \
    X(0x30, 8, STALL, 2) \
    X(0x31, 8, STALL, 2) \
    X(0x32, 8, STALL, 2) \
    X(0x33, 8, STALL, 2) \
    X(0x34, 23, INC_iXYd) \
    X(0x35, 23, DEC_iXYd) \
    X(0x36, 19, LD_iXYd_n) \
    X(0x37, 8, STALL, 2) \
    X(0x38, 8, STALL, 2) \
    X(0x39, 15, ADD_XY_rr, PAIR_SP) \
    X(0x3A, 8, STALL, 2) \
    X(0x3B, 8, STALL, 2) \
    X(0x3C, 8, STALL, 2) \
    X(0x3D, 8, STALL, 2) \
    X(0x3E, 8, STALL, 2) \
    X(0x3F, 8, STALL, 2) \
    X(0x40, 8, STALL, 2) \
    X(0x41, 8, STALL, 2) \
    X(0x42, 8, STALL, 2) \
    X(0x43, 8, STALL, 2) \
    X(0x44, 8, STALL, 2) \
    X(0x45, 8, STALL, 2) \
    X(0x46, 19, LD_r_iXYd, REG_B) \
    X(0x47, 8, STALL, 2) \
    X(0x48, 8, STALL, 2) \
    X(0x49, 8, STALL, 2) \
    X(0x4A, 8, STALL, 2) \
    X(0x4B, 8, STALL, 2) \
    X(0x4C, 8, STALL, 2) \
    X(0x4D, 8, STALL, 2) \
    X(0x4E, 19, LD_r_iXYd, REG_C) \
    X(0x4F, 8, STALL, 2) \
    X(0x50, 8, STALL, 2) \
    X(0x51, 8, STALL, 2) \
    X(0x52, 8, STALL, 2) \
    X(0x53, 8, STALL, 2) \
    X(0x54, 8, STALL, 2) \
    X(0x55, 8, STALL, 2) \
    X(0x56, 19, LD_r_iXYd, REG_D) \
    X(0x57, 8, STALL, 2) \
    X(0x58, 8, STALL, 2) \
    X(0x59, 8, STALL, 2) \
    X(0x5A, 8, STALL, 2) \
    X(0x5B, 8, STALL, 2) \
    X(0x5C, 8, STALL, 2) \
    X(0x5D, 8, STALL, 2) \
    X(0x5E, 19, LD_r_iXYd, REG_E) \
    X(0x5F, 8, STALL, 2) \
    X(0x60, 8, STALL, 2) \
    X(0x61, 8, STALL, 2) \
    X(0x62, 8, STALL, 2) \
    X(0x63, 8, STALL, 2) \
    X(0x64, 8, STALL, 2) \
    X(0x65, 8, STALL, 2) \
    X(0x66, 19, LD_r_iXYd, REG_H) \
    X(0x67, 8, STALL, 2) \
    X(0x68, 8, STALL, 2) \
    X(0x69, 8, STALL, 2) \
    X(0x6A, 8, STALL, 2) \
    X(0x6B, 8, STALL, 2) \
    X(0x6C, 8, STALL, 2) \
    X(0x6D, 8, STALL, 2) \
    X(0x6E, 19, LD_r_iXYd, REG_L) \
    X(0x6F, 8, STALL, 2) \
    X(0x70, 19, LD_iXYd_r, REG_B) \
    X(0x71, 19, LD_iXYd_r, REG_C) \
    X(0x72, 19, LD_iXYd_r, REG_D) \
    X(0x73, 19, LD_iXYd_r, REG_E) \
    X(0x74, 19, LD_iXYd_r, REG_H) \
    X(0x75, 19, LD_iXYd_r, REG_L) \
    X(0x76, 8, STALL, 2) \
    X(0x77, 19, LD_iXYd_r, REG_A) \
    X(0x78, 8, STALL, 2) \
    X(0x79, 8, STALL, 2) \
    X(0x7A, 8, STALL, 2) \
    X(0x7B, 8, STALL, 2) \
    X(0x7C, 8, STALL, 2) \
    X(0x7D, 8, STALL, 2) \
    X(0x7E, 19, LD_r_iXYd, REG_A) \
    X(0x7F, 8, STALL, 2) \
    X(0x80, 8, STALL, 2) \
    X(0x81, 8, STALL, 2) \
    X(0x82, 8, STALL, 2) \
    X(0x83, 8, STALL, 2) \
    X(0x84, 8, STALL, 2) \
    X(0x85, 8, STALL, 2) \
    X(0x86, 19, ALU_iXYd, AddA) \
    X(0x87, 8, STALL, 2) \
    X(0x88, 8, STALL, 2) \
    X(0x89, 8, STALL, 2) \
    X(0x8A, 8, STALL, 2) \
    X(0x8B, 8, STALL, 2) \
    X(0x8C, 8, STALL, 2) \
    X(0x8D, 8, STALL, 2) \
    X(0x8E, 19, ALU_iXYd, AdcA) \
    X(0x8F, 8, STALL, 2) \
    X(0x90, 8, STALL, 2) \
    X(0x91, 8, STALL, 2) \
    X(0x92, 8, STALL, 2) \
    X(0x93, 8, STALL, 2) \
    X(0x94, 8, STALL, 2) \
    X(0x95, 8, STALL, 2) \
    X(0x96, 19, ALU_iXYd, SubA) \
    X(0x97, 8, STALL, 2) \
    X(0x98, 8, STALL, 2) \
    X(0x99, 8, STALL, 2) \
    X(0x9A, 8, STALL, 2) \
    X(0x9B, 8, STALL, 2) \
    X(0x9C, 8, STALL, 2) \
    X(0x9D, 8, STALL, 2) \
    X(0x9E, 19, ALU_iXYd, SbcA) \
    X(0x9F, 8, STALL, 2) \
    X(0xA0, 8, STALL, 2) \
    X(0xA1, 8, STALL, 2) \
    X(0xA2, 8, STALL, 2) \
    X(0xA3, 8, STALL, 2) \
    X(0xA4, 8, STALL, 2) \
    X(0xA5, 8, STALL, 2) \
    X(0xA6, 19, ALU_iXYd, AndA) \
    X(0xA7, 8, STALL, 2) \
    X(0xA8, 8, STALL, 2) \
    X(0xA9, 8, STALL, 2) \
    X(0xAA, 8, STALL, 2) \
    X(0xAB, 8, STALL, 2) \
    X(0xAC, 8, STALL, 2) \
    X(0xAD, 8, STALL, 2) \
    X(0xAE, 19, ALU_iXYd, XorA) \
    X(0xAF, 8, STALL, 2) \
    X(0xB0, 8, STALL, 2) \
    X(0xB1, 8, STALL, 2) \
    X(0xB2, 8, STALL, 2) \
    X(0xB3, 8, STALL, 2) \
    X(0xB4, 8, STALL, 2) \
    X(0xB5, 8, STALL, 2) \
    X(0xB6, 19, ALU_iXYd, OrA) \
    X(0xB7, 8, STALL, 2) \
    X(0xB8, 8, STALL, 2) \
    X(0xB9, 8, STALL, 2) \
    X(0xBA, 8, STALL, 2) \
    X(0xBB, 8, STALL, 2) \
    X(0xBC, 8, STALL, 2) \
    X(0xBD, 8, STALL, 2) \
    X(0xBE, 19, ALU_iXYd, CpA) \
    X(0xBF, 8, STALL, 2) \
    X(0xC0, 8, STALL, 2) \
    X(0xC1, 8, STALL, 2) \
    X(0xC2, 8, STALL, 2) \
    X(0xC3, 8, STALL, 2) \
    X(0xC4, 8, STALL, 2) \
    X(0xC5, 8, STALL, 2) \
    X(0xC6, 8, STALL, 2) \
    X(0xC7, 8, STALL, 2) \
    X(0xC8, 8, STALL, 2) \
    X(0xC9, 8, STALL, 2) \
    X(0xCA, 8, STALL, 2) \
    X(0xCB, 0, BIT_GROUP) \
    X(0xCC, 8, STALL, 2) \
    X(0xCD, 8, STALL, 2) \
    X(0xCE, 8, STALL, 2) \
    X(0xCF, 8, STALL, 2) \
    X(0xD0, 8, STALL, 2) \
    X(0xD1, 8, STALL, 2) \
    X(0xD2, 8, STALL, 2) \
    X(0xD3, 8, STALL, 2) \
    X(0xD4, 8, STALL, 2) \
    X(0xD5, 8, STALL, 2) \
    X(0xD6, 8, STALL, 2) \
    X(0xD7, 8, STALL, 2) \
    X(0xD8, 8, STALL, 2) \
    X(0xD9, 8, STALL, 2) \
    X(0xDA, 8, STALL, 2) \
    X(0xDB, 8, STALL, 2) \
    X(0xDC, 8, STALL, 2) \
    X(0xDD, 8, STALL, 2) \
    X(0xDE, 8, STALL, 2) \
    X(0xDF, 8, STALL, 2) \
    X(0xE0, 8, STALL, 2) \
    X(0xE1, 14, POP_XY) \
    X(0xE2, 8, STALL, 2) \
    X(0xE3, 23, EX_iSP_XY) \
    X(0xE4, 8, STALL, 2) \
    X(0xE5, 15, PUSH_XY) \
    X(0xE6, 8, STALL, 2) \
    X(0xE7, 8, STALL, 2) \
    X(0xE8, 8, STALL, 2) \
    X(0xE9, 8, JP_iXY) \
    X(0xEA, 8, STALL, 2) \
    X(0xEB, 8, STALL, 2) \
    X(0xEC, 8, STALL, 2) \
    X(0xED, 8, STALL, 2) \
    X(0xEE, 8, STALL, 2) \
    X(0xEF, 8, STALL, 2) \
    X(0xF0, 8, STALL, 2) \
    X(0xF1, 8, STALL, 2) \
    X(0xF2, 8, STALL, 2) \
    X(0xF3, 8, STALL, 2) \
    X(0xF4, 8, STALL, 2) \
    X(0xF5, 8, STALL, 2) \
    X(0xF6, 8, STALL, 2) \
    X(0xF7, 8, STALL, 2) \
    X(0xF8, 8, STALL, 2) \
    X(0xF9, 10, LD_SP_XY) \
    X(0xFA, 8, STALL, 2) \
    X(0xFB, 8, STALL, 2) \
    X(0xFC, 8, STALL, 2) \
    X(0xFD, 8, STALL, 2) \
    X(0xFE, 8, STALL, 2) \
    X(0xFF, 8, STALL, 2)
// clang-format on
LB_CHECK_TABLE(INDEX_TABLE);

#undef LB_XY
#undef LB_EA

// Called with pc behind the DD or FD byte; XY is IX or IY.
LB_INLINE void Execute(uint16_t& pc, uint64_t& t, uint16_t& XY) {
    switch (ReadByte(pc++)) {
#define LB_CASE(code, cycles, handler, ...)                                                        \
    case code:                                                                                     \
        t += cycles;                                                                               \
        LB_CALL(handler, __VA_ARGS__)(pc, t, XY);                                                  \
        break;
        INDEX_TABLE(LB_CASE)
#undef LB_CASE
    }
}

} // namespace IndexTable
