// The CB table: rotates and shifts, BIT, RES and SET on B, C, D, E, H, L, (HL) and A. Every
// executed CB instruction is two bytes long. REG_iHL is the byte at the address in HL, read and
// written back at that same address.
//
// Second bytes 0x30-0x37 are not instructions on this machine: they stall, PC back on the CB byte
// and nothing else changed, so the processor stays there until an interrupt, Reset or Quit.
#pragma once

#include "cpu/flags.h"
#include "cpu/operands.h"
#include "cpu/table.h"

#include <cstdint>

namespace CbTable {

using ShiftOperation = uint8_t (*)(uint8_t);

// The operation sets F by the shift flag rule.
template <ShiftOperation Op, int r> LB_INLINE void SHIFT_r(LB_PC) {
    WriteOperand<r>(Op(ReadOperand<r>()));
}
// BIT only reads; RES and SET leave F alone.
template <int b, int r> LB_INLINE void BIT_b_r(LB_PC) { BitTest(ReadOperand<r>(), b); }
template <int b, int r> LB_INLINE void RES_b_r(LB_PC) {
    WriteOperand<r>(uint8_t(ReadOperand<r>() & ~(1 << b)));
}
template <int b, int r> LB_INLINE void SET_b_r(LB_PC) {
    WriteOperand<r>(uint8_t(ReadOperand<r>() | 1 << b));
}

// One line per second byte: X(opcode, T-states, handler, operands...).
// clang-format off
#define CB_TABLE(X) \
    X(0x00, 8, SHIFT_r, OpRLC, REG_B) \
    X(0x01, 8, SHIFT_r, OpRLC, REG_C) \
    X(0x02, 8, SHIFT_r, OpRLC, REG_D) \
    X(0x03, 8, SHIFT_r, OpRLC, REG_E) \
    X(0x04, 8, SHIFT_r, OpRLC, REG_H) \
    X(0x05, 8, SHIFT_r, OpRLC, REG_L) \
    X(0x06, 15, SHIFT_r, OpRLC, REG_iHL) \
    X(0x07, 8, SHIFT_r, OpRLC, REG_A) \
    X(0x08, 8, SHIFT_r, OpRRC, REG_B) \
    X(0x09, 8, SHIFT_r, OpRRC, REG_C) \
    X(0x0A, 8, SHIFT_r, OpRRC, REG_D) \
    X(0x0B, 8, SHIFT_r, OpRRC, REG_E) \
    X(0x0C, 8, SHIFT_r, OpRRC, REG_H) \
    X(0x0D, 8, SHIFT_r, OpRRC, REG_L) \
    X(0x0E, 15, SHIFT_r, OpRRC, REG_iHL) \
    X(0x0F, 8, SHIFT_r, OpRRC, REG_A) \
    X(0x10, 8, SHIFT_r, OpRL, REG_B) \
    X(0x11, 8, SHIFT_r, OpRL, REG_C) \
    X(0x12, 8, SHIFT_r, OpRL, REG_D) \
    X(0x13, 8, SHIFT_r, OpRL, REG_E) \
    X(0x14, 8, SHIFT_r, OpRL, REG_H) \
    X(0x15, 8, SHIFT_r, OpRL, REG_L) \
    X(0x16, 15, SHIFT_r, OpRL, REG_iHL) \
    X(0x17, 8, SHIFT_r, OpRL, REG_A) \
    X(0x18, 8, SHIFT_r, OpRR, REG_B) \
    X(0x19, 8, SHIFT_r, OpRR, REG_C) \
    X(0x1A, 8, SHIFT_r, OpRR, REG_D) \
    X(0x1B, 8, SHIFT_r, OpRR, REG_E) \
    X(0x1C, 8, SHIFT_r, OpRR, REG_H) \
    X(0x1D, 8, SHIFT_r, OpRR, REG_L) \
    X(0x1E, 15, SHIFT_r, OpRR, REG_iHL) \
    X(0x1F, 8, SHIFT_r, OpRR, REG_A) \
    X(0x20, 8, SHIFT_r, OpSLA, REG_B) \
    X(0x21, 8, SHIFT_r, OpSLA, REG_C) \
    X(0x22, 8, SHIFT_r, OpSLA, REG_D) \
    X(0x23, 8, SHIFT_r, OpSLA, REG_E) \
    X(0x24, 8, SHIFT_r, OpSLA, REG_H) \
    X(0x25, 8, SHIFT_r, OpSLA, REG_L) \
    X(0x26, 15, SHIFT_r, OpSLA, REG_iHL) \
    X(0x27, 8, SHIFT_r, OpSLA, REG_A) \
    X(0x28, 8, SHIFT_r, OpSRA, REG_B) \
    X(0x29, 8, SHIFT_r, OpSRA, REG_C) \
    X(0x2A, 8, SHIFT_r, OpSRA, REG_D) \
    X(0x2B, 8, SHIFT_r, OpSRA, REG_E) \
    X(0x2C, 8, SHIFT_r, OpSRA, REG_H) \
    X(0x2D, 8, SHIFT_r, OpSRA, REG_L) \
    X(0x2E, 15, SHIFT_r, OpSRA, REG_iHL) \
    X(0x2F, 8, SHIFT_r, OpSRA, REG_A) \
    X(0x30, 8, STALL, 2) \
    X(0x31, 8, STALL, 2) \
    X(0x32, 8, STALL, 2) \
    X(0x33, 8, STALL, 2) \
    X(0x34, 8, STALL, 2) \
    X(0x35, 8, STALL, 2) \
    X(0x36, 8, STALL, 2) \
    X(0x37, 8, STALL, 2) \
    X(0x38, 8, SHIFT_r, OpSRL, REG_B) \
    X(0x39, 8, SHIFT_r, OpSRL, REG_C) \
    X(0x3A, 8, SHIFT_r, OpSRL, REG_D) \
    X(0x3B, 8, SHIFT_r, OpSRL, REG_E) \
    X(0x3C, 8, SHIFT_r, OpSRL, REG_H) \
    X(0x3D, 8, SHIFT_r, OpSRL, REG_L) \
    X(0x3E, 15, SHIFT_r, OpSRL, REG_iHL) \
    X(0x3F, 8, SHIFT_r, OpSRL, REG_A) \
    X(0x40, 8, BIT_b_r, 0, REG_B) \
    X(0x41, 8, BIT_b_r, 0, REG_C) \
    X(0x42, 8, BIT_b_r, 0, REG_D) \
    X(0x43, 8, BIT_b_r, 0, REG_E) \
    X(0x44, 8, BIT_b_r, 0, REG_H) \
    X(0x45, 8, BIT_b_r, 0, REG_L) \
    X(0x46, 12, BIT_b_r, 0, REG_iHL) \
    X(0x47, 8, BIT_b_r, 0, REG_A) \
    X(0x48, 8, BIT_b_r, 1, REG_B) \
    X(0x49, 8, BIT_b_r, 1, REG_C) \
    X(0x4A, 8, BIT_b_r, 1, REG_D) \
    X(0x4B, 8, BIT_b_r, 1, REG_E) \
    X(0x4C, 8, BIT_b_r, 1, REG_H) \
    X(0x4D, 8, BIT_b_r, 1, REG_L) \
    X(0x4E, 12, BIT_b_r, 1, REG_iHL) \
    X(0x4F, 8, BIT_b_r, 1, REG_A) \
    X(0x50, 8, BIT_b_r, 2, REG_B) \
    X(0x51, 8, BIT_b_r, 2, REG_C) \
    X(0x52, 8, BIT_b_r, 2, REG_D) \
    X(0x53, 8, BIT_b_r, 2, REG_E) \
    X(0x54, 8, BIT_b_r, 2, REG_H) \
    X(0x55, 8, BIT_b_r, 2, REG_L) \
    X(0x56, 12, BIT_b_r, 2, REG_iHL) \
    X(0x57, 8, BIT_b_r, 2, REG_A) \
    X(0x58, 8, BIT_b_r, 3, REG_B) \
    X(0x59, 8, BIT_b_r, 3, REG_C) \
    X(0x5A, 8, BIT_b_r, 3, REG_D) \
    X(0x5B, 8, BIT_b_r, 3, REG_E) \
    X(0x5C, 8, BIT_b_r, 3, REG_H) \
    X(0x5D, 8, BIT_b_r, 3, REG_L) \
    X(0x5E, 12, BIT_b_r, 3, REG_iHL) \
    X(0x5F, 8, BIT_b_r, 3, REG_A) \
    X(0x60, 8, BIT_b_r, 4, REG_B) \
    X(0x61, 8, BIT_b_r, 4, REG_C) \
    X(0x62, 8, BIT_b_r, 4, REG_D) \
    X(0x63, 8, BIT_b_r, 4, REG_E) \
    X(0x64, 8, BIT_b_r, 4, REG_H) \
    X(0x65, 8, BIT_b_r, 4, REG_L) \
    X(0x66, 12, BIT_b_r, 4, REG_iHL) \
    X(0x67, 8, BIT_b_r, 4, REG_A) \
    X(0x68, 8, BIT_b_r, 5, REG_B) \
    X(0x69, 8, BIT_b_r, 5, REG_C) \
    X(0x6A, 8, BIT_b_r, 5, REG_D) \
    X(0x6B, 8, BIT_b_r, 5, REG_E) \
    X(0x6C, 8, BIT_b_r, 5, REG_H) \
    X(0x6D, 8, BIT_b_r, 5, REG_L) \
    X(0x6E, 12, BIT_b_r, 5, REG_iHL) \
    X(0x6F, 8, BIT_b_r, 5, REG_A) \
    X(0x70, 8, BIT_b_r, 6, REG_B) \
    X(0x71, 8, BIT_b_r, 6, REG_C) \
    X(0x72, 8, BIT_b_r, 6, REG_D) \
    X(0x73, 8, BIT_b_r, 6, REG_E) \
    X(0x74, 8, BIT_b_r, 6, REG_H) \
    X(0x75, 8, BIT_b_r, 6, REG_L) \
    X(0x76, 12, BIT_b_r, 6, REG_iHL) \
    X(0x77, 8, BIT_b_r, 6, REG_A) \
    X(0x78, 8, BIT_b_r, 7, REG_B) \
    X(0x79, 8, BIT_b_r, 7, REG_C) \
    X(0x7A, 8, BIT_b_r, 7, REG_D) \
    X(0x7B, 8, BIT_b_r, 7, REG_E) \
    X(0x7C, 8, BIT_b_r, 7, REG_H) \
    X(0x7D, 8, BIT_b_r, 7, REG_L) \
    X(0x7E, 12, BIT_b_r, 7, REG_iHL) \
    X(0x7F, 8, BIT_b_r, 7, REG_A) \
    X(0x80, 8, RES_b_r, 0, REG_B) \
    X(0x81, 8, RES_b_r, 0, REG_C) \
    X(0x82, 8, RES_b_r, 0, REG_D) \
    X(0x83, 8, RES_b_r, 0, REG_E) \
    X(0x84, 8, RES_b_r, 0, REG_H) \
    X(0x85, 8, RES_b_r, 0, REG_L) \
    X(0x86, 15, RES_b_r, 0, REG_iHL) \
    X(0x87, 8, RES_b_r, 0, REG_A) \
    X(0x88, 8, RES_b_r, 1, REG_B) \
    X(0x89, 8, RES_b_r, 1, REG_C) \
    X(0x8A, 8, RES_b_r, 1, REG_D) \
    X(0x8B, 8, RES_b_r, 1, REG_E) \
    X(0x8C, 8, RES_b_r, 1, REG_H) \
    X(0x8D, 8, RES_b_r, 1, REG_L) \
    X(0x8E, 15, RES_b_r, 1, REG_iHL) \
    X(0x8F, 8, RES_b_r, 1, REG_A) \
    X(0x90, 8, RES_b_r, 2, REG_B) \
    X(0x91, 8, RES_b_r, 2, REG_C) \
    X(0x92, 8, RES_b_r, 2, REG_D) \
    X(0x93, 8, RES_b_r, 2, REG_E) \
    X(0x94, 8, RES_b_r, 2, REG_H) \
    X(0x95, 8, RES_b_r, 2, REG_L) \
    X(0x96, 15, RES_b_r, 2, REG_iHL) \
    X(0x97, 8, RES_b_r, 2, REG_A) \
    X(0x98, 8, RES_b_r, 3, REG_B) \
    X(0x99, 8, RES_b_r, 3, REG_C) \
    X(0x9A, 8, RES_b_r, 3, REG_D) \
    X(0x9B, 8, RES_b_r, 3, REG_E) \
    X(0x9C, 8, RES_b_r, 3, REG_H) \
    X(0x9D, 8, RES_b_r, 3, REG_L) \
    X(0x9E, 15, RES_b_r, 3, REG_iHL) \
    X(0x9F, 8, RES_b_r, 3, REG_A) \
    X(0xA0, 8, RES_b_r, 4, REG_B) \
    X(0xA1, 8, RES_b_r, 4, REG_C) \
    X(0xA2, 8, RES_b_r, 4, REG_D) \
    X(0xA3, 8, RES_b_r, 4, REG_E) \
    X(0xA4, 8, RES_b_r, 4, REG_H) \
    X(0xA5, 8, RES_b_r, 4, REG_L) \
    X(0xA6, 15, RES_b_r, 4, REG_iHL) \
    X(0xA7, 8, RES_b_r, 4, REG_A) \
    X(0xA8, 8, RES_b_r, 5, REG_B) \
    X(0xA9, 8, RES_b_r, 5, REG_C) \
    X(0xAA, 8, RES_b_r, 5, REG_D) \
    X(0xAB, 8, RES_b_r, 5, REG_E) \
    X(0xAC, 8, RES_b_r, 5, REG_H) \
    X(0xAD, 8, RES_b_r, 5, REG_L) \
    X(0xAE, 15, RES_b_r, 5, REG_iHL) \
    X(0xAF, 8, RES_b_r, 5, REG_A) \
    X(0xB0, 8, RES_b_r, 6, REG_B) \
    X(0xB1, 8, RES_b_r, 6, REG_C) \
    X(0xB2, 8, RES_b_r, 6, REG_D) \
    X(0xB3, 8, RES_b_r, 6, REG_E) \
    X(0xB4, 8, RES_b_r, 6, REG_H) \
    X(0xB5, 8, RES_b_r, 6, REG_L) \
    X(0xB6, 15, RES_b_r, 6, REG_iHL) \
    X(0xB7, 8, RES_b_r, 6, REG_A) \
    X(0xB8, 8, RES_b_r, 7, REG_B) \
    X(0xB9, 8, RES_b_r, 7, REG_C) \
    X(0xBA, 8, RES_b_r, 7, REG_D) \
    X(0xBB, 8, RES_b_r, 7, REG_E) \
    X(0xBC, 8, RES_b_r, 7, REG_H) \
    X(0xBD, 8, RES_b_r, 7, REG_L) \
    X(0xBE, 15, RES_b_r, 7, REG_iHL) \
    X(0xBF, 8, RES_b_r, 7, REG_A) \
    X(0xC0, 8, SET_b_r, 0, REG_B) \
    X(0xC1, 8, SET_b_r, 0, REG_C) \
    X(0xC2, 8, SET_b_r, 0, REG_D) \
    X(0xC3, 8, SET_b_r, 0, REG_E) \
    X(0xC4, 8, SET_b_r, 0, REG_H) \
    X(0xC5, 8, SET_b_r, 0, REG_L) \
    X(0xC6, 15, SET_b_r, 0, REG_iHL) \
    X(0xC7, 8, SET_b_r, 0, REG_A) \
    X(0xC8, 8, SET_b_r, 1, REG_B) \
    X(0xC9, 8, SET_b_r, 1, REG_C) \
    X(0xCA, 8, SET_b_r, 1, REG_D) \
    X(0xCB, 8, SET_b_r, 1, REG_E) \
    X(0xCC, 8, SET_b_r, 1, REG_H) \
    X(0xCD, 8, SET_b_r, 1, REG_L) \
    X(0xCE, 15, SET_b_r, 1, REG_iHL) \
    X(0xCF, 8, SET_b_r, 1, REG_A) \
    X(0xD0, 8, SET_b_r, 2, REG_B) \
    X(0xD1, 8, SET_b_r, 2, REG_C) \
    X(0xD2, 8, SET_b_r, 2, REG_D) \
    X(0xD3, 8, SET_b_r, 2, REG_E) \
    X(0xD4, 8, SET_b_r, 2, REG_H) \
    X(0xD5, 8, SET_b_r, 2, REG_L) \
    X(0xD6, 15, SET_b_r, 2, REG_iHL) \
    X(0xD7, 8, SET_b_r, 2, REG_A) \
    X(0xD8, 8, SET_b_r, 3, REG_B) \
    X(0xD9, 8, SET_b_r, 3, REG_C) \
    X(0xDA, 8, SET_b_r, 3, REG_D) \
    X(0xDB, 8, SET_b_r, 3, REG_E) \
    X(0xDC, 8, SET_b_r, 3, REG_H) \
    X(0xDD, 8, SET_b_r, 3, REG_L) \
    X(0xDE, 15, SET_b_r, 3, REG_iHL) \
    X(0xDF, 8, SET_b_r, 3, REG_A) \
    X(0xE0, 8, SET_b_r, 4, REG_B) \
    X(0xE1, 8, SET_b_r, 4, REG_C) \
    X(0xE2, 8, SET_b_r, 4, REG_D) \
    X(0xE3, 8, SET_b_r, 4, REG_E) \
    X(0xE4, 8, SET_b_r, 4, REG_H) \
    X(0xE5, 8, SET_b_r, 4, REG_L) \
    X(0xE6, 15, SET_b_r, 4, REG_iHL) \
    X(0xE7, 8, SET_b_r, 4, REG_A) \
    X(0xE8, 8, SET_b_r, 5, REG_B) \
    X(0xE9, 8, SET_b_r, 5, REG_C) \
    X(0xEA, 8, SET_b_r, 5, REG_D) \
    X(0xEB, 8, SET_b_r, 5, REG_E) \
    X(0xEC, 8, SET_b_r, 5, REG_H) \
    X(0xED, 8, SET_b_r, 5, REG_L) \
    X(0xEE, 15, SET_b_r, 5, REG_iHL) \
    X(0xEF, 8, SET_b_r, 5, REG_A) \
    X(0xF0, 8, SET_b_r, 6, REG_B) \
    X(0xF1, 8, SET_b_r, 6, REG_C) \
    X(0xF2, 8, SET_b_r, 6, REG_D) \
    X(0xF3, 8, SET_b_r, 6, REG_E) \
    X(0xF4, 8, SET_b_r, 6, REG_H) \
    X(0xF5, 8, SET_b_r, 6, REG_L) \
    X(0xF6, 15, SET_b_r, 6, REG_iHL) \
    X(0xF7, 8, SET_b_r, 6, REG_A) \
    X(0xF8, 8, SET_b_r, 7, REG_B) \
    X(0xF9, 8, SET_b_r, 7, REG_C) \
    X(0xFA, 8, SET_b_r, 7, REG_D) \
    X(0xFB, 8, SET_b_r, 7, REG_E) \
    X(0xFC, 8, SET_b_r, 7, REG_H) \
    X(0xFD, 8, SET_b_r, 7, REG_L) \
    X(0xFE, 15, SET_b_r, 7, REG_iHL) \
    X(0xFF, 8, SET_b_r, 7, REG_A)
// clang-format on
LB_CHECK_TABLE(CB_TABLE);

// Called with pc behind the CB byte.
LB_INLINE void Execute(uint16_t& pc, uint64_t& t) {
    switch (ReadByte(pc++)) {
#define LB_CASE(code, cycles, handler, ...)                                                        \
    case code:                                                                                     \
        t += cycles;                                                                               \
        LB_CALL(handler, __VA_ARGS__)(pc, t);                                                      \
        break;
        CB_TABLE(LB_CASE)
#undef LB_CASE
    }
}

} // namespace CbTable
