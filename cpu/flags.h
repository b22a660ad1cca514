// Flag rules and the arithmetic, logical, shift and bit operations the instruction tables share.
// Y and X (0x20, 0x08) are never computed: every rule copies them from the old F. Carry, overflow
// and half carry come from the operands and the untruncated result: a ^ b ^ r holds the carries
// into each bit.
#pragma once

#include "cpu/cpu_state.h"
#include "cpu/table.h"

#include <array>
#include <bit>
#include <cstdint>

inline constexpr std::array<uint8_t, 256> ParityTable = [] {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = (std::popcount(unsigned(v)) & 1) ? 0 : 1;
    return t;
}();

// S, Z and P/V of a result byte, for the rules that take all three from it.
inline constexpr std::array<uint8_t, 256> SzpTable = [] {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = uint8_t((v & FLAG_S) | (v ? 0 : FLAG_Z) | (ParityTable[v] ? FLAG_PV : 0));
    return t;
}();

LB_INLINE void IncrementFlags(uint8_t v) {
    auto& s = CpuState;
    uint8_t f = s.F & (FLAG_C | FLAG_Y | FLAG_X);
    if (v == 0x80) f |= FLAG_PV;
    if ((v & 0x0F) == 0) f |= FLAG_H;
    if (v == 0) f |= FLAG_Z;
    f |= v & FLAG_S;
    s.F = f;
}

LB_INLINE void DecrementFlags(uint8_t v) {
    auto& s = CpuState;
    uint8_t f = (s.F & (FLAG_C | FLAG_Y | FLAG_X)) | FLAG_N;
    if (v == 0x7F) f |= FLAG_PV;
    if ((v & 0x0F) == 0x0F) f |= FLAG_H;
    if (v == 0) f |= FLAG_Z;
    f |= v & FLAG_S;
    s.F = f;
}

// a, b: the 8-bit operands (b without carry); r: the untruncated result, carry included. H is
// bit 4 of a ^ b ^ r (the carry into it), C is bit 8, V is set when a and b agree in sign and r
// does not.
LB_INLINE void AdditionFlags(unsigned a, unsigned b, unsigned r) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_Y | FLAG_X)) |
                         (SzpTable[r & 0xFF] & (FLAG_S | FLAG_Z)) | ((a ^ b ^ r) & FLAG_H) |
                         ((((a ^ r) & (b ^ r)) >> 5) & FLAG_PV) | ((r >> 8) & FLAG_C));
}

// r may be negative: its two's complement bits are used (bit 8 is then the borrow). V is set when
// a and b differ in sign and r differs from a.
LB_INLINE void SubtractionFlags(unsigned a, unsigned b, unsigned r) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_Y | FLAG_X)) |
                         (SzpTable[r & 0xFF] & (FLAG_S | FLAG_Z)) | ((a ^ b ^ r) & FLAG_H) |
                         ((((a ^ b) & (a ^ r)) >> 5) & FLAG_PV) | ((r >> 8) & FLAG_C) | FLAG_N);
}

// v is the new A; H is set for AND only. C and N clear.
LB_INLINE void LogicalFlags(uint8_t v, bool with_h) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_Y | FLAG_X)) | SzpTable[v] | (with_h ? FLAG_H : 0));
}

// The eight accumulator operations.
LB_INLINE void AddA(uint8_t b) {
    unsigned a = CpuState.A, r = a + b;
    CpuState.A = uint8_t(r);
    AdditionFlags(a, b, r);
}
LB_INLINE void AdcA(uint8_t b) {
    unsigned a = CpuState.A, r = a + b + (CpuState.F & FLAG_C);
    CpuState.A = uint8_t(r);
    AdditionFlags(a, b, r);
}
LB_INLINE void SubA(uint8_t b) {
    unsigned a = CpuState.A, r = a - b;
    CpuState.A = uint8_t(r);
    SubtractionFlags(a, b, r);
}
LB_INLINE void SbcA(uint8_t b) {
    unsigned a = CpuState.A, r = a - b - (CpuState.F & FLAG_C);
    CpuState.A = uint8_t(r);
    SubtractionFlags(a, b, r);
}
LB_INLINE void CpA(uint8_t b) {
    unsigned a = CpuState.A;
    SubtractionFlags(a, b, a - b);
}
LB_INLINE void AndA(uint8_t b) {
    CpuState.A &= b;
    LogicalFlags(CpuState.A, true);
}
LB_INLINE void XorA(uint8_t b) {
    CpuState.A ^= b;
    LogicalFlags(CpuState.A, false);
}
LB_INLINE void OrA(uint8_t b) {
    CpuState.A |= b;
    LogicalFlags(CpuState.A, false);
}

// ADD HL/IX/IY,rr: C from bit 15, H from bit 11, N = 0; S, Z, P/V, Y, X unchanged.
LB_INLINE void Add16(uint16_t& target, uint16_t b) {
    unsigned a = target, r = a + b;
    target = uint16_t(r);
    CpuState.F =
        uint8_t((CpuState.F & 0xEC) | (((a ^ b ^ r) >> 8) & FLAG_H) | ((r >> 16) & FLAG_C));
}

// ADC HL,rr and SBC HL,rr: a, b the 16-bit operands, r the untruncated result (for SBC its two's
// complement bits, bit 16 then the borrow). H is the carry out of bit 11, C out of bit 15.
LB_INLINE void Adc16Flags(unsigned a, unsigned b, unsigned r) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_Y | FLAG_X)) | ((r >> 8) & FLAG_S) |
                         ((r & 0xFFFF) ? 0 : FLAG_Z) | (((a ^ b ^ r) >> 8) & FLAG_H) |
                         ((((a ^ r) & (b ^ r)) >> 13) & FLAG_PV) | ((r >> 16) & FLAG_C));
}
LB_INLINE void Sbc16Flags(unsigned a, unsigned b, unsigned r) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_Y | FLAG_X)) | ((r >> 8) & FLAG_S) |
                         ((r & 0xFFFF) ? 0 : FLAG_Z) | (((a ^ b ^ r) >> 8) & FLAG_H) |
                         ((((a ^ b) & (a ^ r)) >> 13) & FLAG_PV) | ((r >> 16) & FLAG_C) | FLAG_N);
}

// Accumulator rotates: S, Z, P/V, Y, X unchanged, H = N = 0, C = the bit shifted out.
LB_INLINE void AccumulatorRotateFlags(unsigned carry) {
    CpuState.F = uint8_t((CpuState.F & 0xEC) | carry);
}

// CPL: H = N = 1, the rest unchanged.
LB_INLINE void ComplementFlags() { CpuState.F |= FLAG_H | FLAG_N; }
// SCF: C = 1, H = N = 0, the rest unchanged.
LB_INLINE void SetCarryFlags() { CpuState.F = uint8_t((CpuState.F & ~(FLAG_H | FLAG_N)) | FLAG_C); }
// CCF: C inverted, N = 0, the rest unchanged; H is kept on this machine (a Z80 copies the old C).
LB_INLINE void ComplementCarryFlags() { CpuState.F = uint8_t((CpuState.F ^ FLAG_C) & ~FLAG_N); }

// DAA by the decimal adjust table: pick correction k and carry c, then ADD A,k; P/V from parity,
// N kept, C = c.
LB_INLINE void DecimalAdjust() {
    auto& s = CpuState;
    unsigned lo = s.A & 0x0F, hi = s.A >> 4;
    unsigned n = s.F & FLAG_N, c = s.F & FLAG_C, h = s.F & FLAG_H;
    uint8_t k;
    unsigned carry;
    if (!n) {
        if (!c && !h) {
            if (lo <= 9) {
                k = hi <= 9 ? 0x00 : 0x60;
            } else {
                k = hi <= 8 ? 0x06 : 0x66;
            }
            carry = k & 0x60 ? 1 : 0;
        } else if (!c) {
            k = hi <= 9 ? 0x06 : 0x66;
            carry = hi <= 9 ? 0 : 1;
        } else if (!h) {
            k = lo <= 9 ? 0x60 : 0x66;
            carry = 1;
        } else {
            k = 0x66;
            carry = 1;
        }
    } else {
        k = !c ? (!h ? 0x00 : 0xFA) : (!h ? 0xA0 : 0x9A);
        carry = c ? 1 : 0;
    }
    AddA(k);
    s.F = uint8_t((s.F & ~(FLAG_PV | FLAG_N | FLAG_C)) | (ParityTable[s.A] ? FLAG_PV : 0) | n |
                  carry);
}

// Shift flag rule of the CB rotates and shifts: S, Z, P/V from the result, H = N = 0, C = the bit
// shifted out, Y and X unchanged.
LB_INLINE uint8_t ShiftFlags(uint8_t r, unsigned carry) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_Y | FLAG_X)) | SzpTable[r] | carry);
    return r;
}
LB_INLINE uint8_t OpRLC(uint8_t v) { return ShiftFlags(uint8_t(v << 1 | v >> 7), v >> 7); }
LB_INLINE uint8_t OpRRC(uint8_t v) { return ShiftFlags(uint8_t(v >> 1 | v << 7), v & 1); }
LB_INLINE uint8_t OpRL(uint8_t v) {
    return ShiftFlags(uint8_t(v << 1 | (CpuState.F & FLAG_C)), v >> 7);
}
LB_INLINE uint8_t OpRR(uint8_t v) {
    return ShiftFlags(uint8_t(v >> 1 | (CpuState.F & FLAG_C) << 7), v & 1);
}
LB_INLINE uint8_t OpSLA(uint8_t v) { return ShiftFlags(uint8_t(v << 1), v >> 7); }
LB_INLINE uint8_t OpSRA(uint8_t v) { return ShiftFlags(uint8_t(v >> 1 | (v & 0x80)), v & 1); }
LB_INLINE uint8_t OpSRL(uint8_t v) { return ShiftFlags(uint8_t(v >> 1), v & 1); }

// Bit-test flag rule: H = 1, S = P/V = N = 0, Z = bit b of v is 0; C, Y, X unchanged.
LB_INLINE void BitTest(uint8_t v, int b) {
    CpuState.F =
        uint8_t((CpuState.F & (FLAG_C | FLAG_Y | FLAG_X)) | FLAG_H | ((v >> b) & 1 ? 0 : FLAG_Z));
}

// IN r,(C), RRD, RLD: S, Z and P/V (parity) from v, H = N = 0, C, Y and X kept.
LB_INLINE void InFlags(uint8_t v) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_C | FLAG_Y | FLAG_X)) | SzpTable[v]);
}

// LD A,I and LD A,R: S and Z from the new A, P/V = IFF2, H = N = 0, C, Y and X kept.
LB_INLINE void LoadAFlags() {
    uint8_t a = CpuState.A;
    CpuState.F = uint8_t((CpuState.F & (FLAG_C | FLAG_Y | FLAG_X)) | (a & FLAG_S) |
                         (a ? 0 : FLAG_Z) | (CpuState.IFF2 ? FLAG_PV : 0));
}

// Block transfer (LDI, LDD, LDIR, LDDR): H = N = 0, P/V = BC non-zero; S, Z, C, Y, X kept.
LB_INLINE void BlockTransferFlags(uint16_t bc) {
    CpuState.F =
        uint8_t((CpuState.F & (FLAG_S | FLAG_Z | FLAG_C | FLAG_Y | FLAG_X)) | (bc ? FLAG_PV : 0));
}

// Block compare (CPI, CPD, CPIR, CPDR): the flags of CP A,m with C kept, then P/V = BC non-zero.
LB_INLINE void BlockCompareFlags(uint8_t a, uint8_t m, uint16_t bc) {
    uint8_t carry = CpuState.F & FLAG_C;
    SubtractionFlags(a, m, unsigned(a) - m);
    CpuState.F = uint8_t((CpuState.F & ~(FLAG_C | FLAG_PV)) | carry | (bc ? FLAG_PV : 0));
}

// Block input and output (INI ... OTDR): N = 1, Z = B is 0 after the count; S, H, P/V, C, Y, X
// kept.
LB_INLINE void BlockIoFlags(uint8_t b) {
    CpuState.F = uint8_t((CpuState.F & ~FLAG_Z) | FLAG_N | (b ? 0 : FLAG_Z));
}
