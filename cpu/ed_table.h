// The ED table: port I/O through register C, 16-bit arithmetic with carry on HL, loads at an
// absolute address, NEG, RETN/RETI, the interrupt-mode and I instructions, RRD/RLD and the sixteen
// block instructions. The repeating block instructions finish every repetition inside one call, so
// no interrupt or control request is seen between two of them; their T-states count every
// repetition (21 each, 16 for the last). Any other second byte stalls: PC goes back onto the ED
// byte and nothing else changes.
//
// Legend: (C) the port numbered by register C (B plays no part), (nn) the word at the immediate
// address nn, rr one of BC, DE, HL, SP. Handler names: i = indirect, so IN_r_iC is IN r,(C).
#pragma once

#include "cpu/access.h"
#include "cpu/bus.h"
#include "cpu/flags.h"
#include "cpu/operands.h"
#include "cpu/processor.h"
#include "cpu/table.h"

#include <cstdint>

namespace EdTable {

template <int r> LB_INLINE void IN_r_iC(LB_PC) { InFlags(Register8<r>() = PortRead(CpuState.C)); }
// An OUT may change HL: the host file service's opens set it.
template <int r> LB_INLINE void OUT_iC_r(LB_PC) {
    auto& s = CpuState;
    s.HL = PortWrite(s.C, Register8<r>(), {s.B, s.DE, s.HL});
}

template <int p> LB_INLINE void ADC_HL_rr(LB_PC) {
    unsigned a = CpuState.HL, b = Register16<p>(), r = a + b + (CpuState.F & FLAG_C);
    CpuState.HL = uint16_t(r);
    Adc16Flags(a, b, r);
}
template <int p> LB_INLINE void SBC_HL_rr(LB_PC) {
    unsigned a = CpuState.HL, b = Register16<p>(), r = a - b - (CpuState.F & FLAG_C);
    CpuState.HL = uint16_t(r);
    Sbc16Flags(a, b, r);
}

template <int p> LB_INLINE void LD_inn_rr(LB_PC) { WriteWord(FetchWord(pc), Register16<p>()); }
template <int p> LB_INLINE void LD_rr_inn(LB_PC) { Register16<p>() = ReadWord(FetchWord(pc)); }

LB_INLINE void NEG(LB_PC) {
    unsigned b = CpuState.A, r = 0u - b;
    CpuState.A = uint8_t(r);
    SubtractionFlags(0, b, r);
}

// RETN restores the interrupt enable that the NMI entry saved in IFF2; RETI leaves both alone.
LB_INLINE void RETN(LB_PC) {
    CpuState.IFF1 = CpuState.IFF2;
    pc = Pop();
}
LB_INLINE void RETI(LB_PC) { pc = Pop(); }

template <int m> LB_INLINE void IM_m(LB_PC) { CpuState.IM = m; }
LB_INLINE void LD_I_A(LB_PC) { CpuState.I = CpuState.A; }
LB_INLINE void LD_A_I(LB_PC) {
    CpuState.A = CpuState.I;
    LoadAFlags();
}
// There is no refresh register: A gets a pseudo-random value 0-127 (see NextRefreshValue).
LB_INLINE void LD_A_R(LB_PC) {
    CpuState.A = NextRefreshValue();
    LoadAFlags();
}

// Digit rotates between the low nibble of A and the byte at HL.
LB_INLINE void RRD(LB_PC) {
    uint8_t a = CpuState.A, m = ReadByte(CpuState.HL);
    WriteByte(CpuState.HL, uint8_t((a & 0x0F) << 4 | m >> 4));
    CpuState.A = uint8_t((a & 0xF0) | (m & 0x0F));
    InFlags(CpuState.A);
}
LB_INLINE void RLD(LB_PC) {
    uint8_t a = CpuState.A, m = ReadByte(CpuState.HL);
    WriteByte(CpuState.HL, uint8_t((m & 0x0F) << 4 | (a & 0x0F)));
    CpuState.A = uint8_t((a & 0xF0) | m >> 4);
    InFlags(CpuState.A);
}

// A repetition before the last costs 21 T-states; the table line holds the 16 of the last.
constexpr unsigned RepeatTstates = 21;

// Block transfer: H = N = 0, P/V = BC non-zero; S, Z, C, Y, X kept. A repeating transfer counts
// BC down to 0 (BC = 0 at the start moves 65,536 bytes), one byte at a time in address order, so
// overlapping areas behave byte by byte.
template <int step, bool repeat> LB_INLINE void TRANSFER(LB_PC) {
    uint16_t hl = CpuState.HL, de = CpuState.DE, bc = CpuState.BC;
    uint64_t repeats = 0;
    for (;;) {
        WriteByte(de, ReadByte(hl));
        hl = uint16_t(hl + step);
        de = uint16_t(de + step);
        bc = uint16_t(bc - 1);
        if (!(repeat && bc)) break;
        ++repeats;
    }
    t += RepeatTstates * repeats;
    CpuState.HL = hl;
    CpuState.DE = de;
    CpuState.BC = bc;
    BlockTransferFlags(bc);
}

// Block compare: flags of the last CP A,(HL) with C kept, then P/V = BC non-zero. A repeating
// compare stops after the count that made BC 0 or found the byte equal to A.
template <int step, bool repeat> LB_INLINE void COMPARE(LB_PC) {
    uint16_t hl = CpuState.HL, bc = CpuState.BC;
    uint8_t a = CpuState.A, m;
    uint64_t repeats = 0;
    for (;;) {
        m = ReadByte(hl);
        hl = uint16_t(hl + step);
        bc = uint16_t(bc - 1);
        if (!(repeat && bc && m != a)) break;
        ++repeats;
    }
    t += RepeatTstates * repeats;
    CpuState.HL = hl;
    CpuState.BC = bc;
    BlockCompareFlags(a, m, bc);
}

// Block input and output: N = 1, Z = B is 0 after the count; S, H, P/V, C, Y, X kept. B = 0 at the
// start of a repeating form means 256 bytes. The output writes the port before HL and B step, so
// the host file service on port 255 sees the HL and B of that byte, and may hand back a new HL,
// from which the step and the next byte go on.
template <bool output, int step, bool repeat> LB_INLINE void BLOCK_IO(LB_PC) {
    auto& s = CpuState;
    uint64_t repeats = 0;
    for (;;) {
        if constexpr (output)
            s.HL = PortWrite(s.C, ReadByte(s.HL), {s.B, s.DE, s.HL});
        else
            WriteByte(s.HL, PortRead(s.C));
        s.HL = uint16_t(s.HL + step);
        s.B = uint8_t(s.B - 1);
        if (!(repeat && s.B)) break;
        ++repeats;
    }
    t += RepeatTstates * repeats;
    BlockIoFlags(s.B);
}

// One line per second byte: X(opcode, T-states, handler, operands...).
// clang-format off
#define ED_TABLE(X) \
    X(0x00, 8, STALL, 2) \
    X(0x01, 8, STALL, 2) \
    X(0x02, 8, STALL, 2) \
    X(0x03, 8, STALL, 2) \
    X(0x04, 8, STALL, 2) \
    X(0x05, 8, STALL, 2) \
    X(0x06, 8, STALL, 2) \
    X(0x07, 8, STALL, 2) \
    X(0x08, 8, STALL, 2) \
    X(0x09, 8, STALL, 2) \
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
    X(0x19, 8, STALL, 2) \
    X(0x1A, 8, STALL, 2) \
    X(0x1B, 8, STALL, 2) \
    X(0x1C, 8, STALL, 2) \
    X(0x1D, 8, STALL, 2) \
    X(0x1E, 8, STALL, 2) \
    X(0x1F, 8, STALL, 2) \
    X(0x20, 8, STALL, 2) \
    X(0x21, 8, STALL, 2) \
    X(0x22, 8, STALL, 2) \
    X(0x23, 8, STALL, 2) \
    X(0x24, 8, STALL, 2) \
    X(0x25, 8, STALL, 2) \
    X(0x26, 8, STALL, 2) \
    X(0x27, 8, STALL, 2) \
    X(0x28, 8, STALL, 2) \
    X(0x29, 8, STALL, 2) \
    X(0x2A, 8, STALL, 2) \
    X(0x2B, 8, STALL, 2) \
    X(0x2C, 8, STALL, 2) \
    X(0x2D, 8, STALL, 2) \
    X(0x2E, 8, STALL, 2) \
    X(0x2F, 8, STALL, 2) \
    X(0x30, 8, STALL, 2) \
    X(0x31, 8, STALL, 2) \
    X(0x32, 8, STALL, 2) \
    X(0x33, 8, STALL, 2) \
    X(0x34, 8, STALL, 2) \
    X(0x35, 8, STALL, 2) \
    X(0x36, 8, STALL, 2) \
    X(0x37, 8, STALL, 2) \
    X(0x38, 8, STALL, 2) \
    X(0x39, 8, STALL, 2) \
    X(0x3A, 8, STALL, 2) \
    X(0x3B, 8, STALL, 2) \
    X(0x3C, 8, STALL, 2) \
    X(0x3D, 8, STALL, 2) \
    X(0x3E, 8, STALL, 2) \
    X(0x3F, 8, STALL, 2) \
    X(0x40, 12, IN_r_iC, REG_B) \
    X(0x41, 12, OUT_iC_r, REG_B) \
    X(0x42, 15, SBC_HL_rr, PAIR_BC) \
    X(0x43, 20, LD_inn_rr, PAIR_BC) \
    X(0x44, 8, NEG) \
    X(0x45, 14, RETN) \
    X(0x46, 8, IM_m, 0) \
    X(0x47, 9, LD_I_A) \
    X(0x48, 12, IN_r_iC, REG_C) \
    X(0x49, 12, OUT_iC_r, REG_C) \
    X(0x4A, 15, ADC_HL_rr, PAIR_BC) \
    X(0x4B, 20, LD_rr_inn, PAIR_BC) \
    X(0x4C, 8, STALL, 2) \
    X(0x4D, 14, RETI) \
    X(0x4E, 8, STALL, 2) \
    X(0x4F, 8, STALL, 2) \
    X(0x50, 12, IN_r_iC, REG_D) \
    X(0x51, 12, OUT_iC_r, REG_D) \
    X(0x52, 15, SBC_HL_rr, PAIR_DE) \
    X(0x53, 20, LD_inn_rr, PAIR_DE) \
    X(0x54, 8, STALL, 2) \
    X(0x55, 8, STALL, 2) \
    X(0x56, 8, IM_m, 1) \
    X(0x57, 9, LD_A_I) \
    X(0x58, 12, IN_r_iC, REG_E) \
    X(0x59, 12, OUT_iC_r, REG_E) \
    X(0x5A, 15, ADC_HL_rr, PAIR_DE) \
    X(0x5B, 20, LD_rr_inn, PAIR_DE) \
    X(0x5C, 8, STALL, 2) \
    X(0x5D, 8, STALL, 2) \
    X(0x5E, 8, IM_m, 2) \
    X(0x5F, 9, LD_A_R) \
    X(0x60, 12, IN_r_iC, REG_H) \
    X(0x61, 12, OUT_iC_r, REG_H) \
    X(0x62, 15, SBC_HL_rr, PAIR_HL) \
    X(0x63, 20, LD_inn_rr, PAIR_HL) \
    X(0x64, 8, STALL, 2) \
    X(0x65, 8, STALL, 2) \
    X(0x66, 8, STALL, 2) \
    X(0x67, 18, RRD) \
    X(0x68, 12, IN_r_iC, REG_L) \
    X(0x69, 12, OUT_iC_r, REG_L) \
    X(0x6A, 15, ADC_HL_rr, PAIR_HL) \
    X(0x6B, 20, LD_rr_inn, PAIR_HL) \
    X(0x6C, 8, STALL, 2) \
    X(0x6D, 8, STALL, 2) \
    X(0x6E, 8, STALL, 2) \
    X(0x6F, 18, RLD) \
    X(0x70, 8, STALL, 2) \
    X(0x71, 8, STALL, 2) \
    X(0x72, 15, SBC_HL_rr, PAIR_SP) \
    X(0x73, 20, LD_inn_rr, PAIR_SP) \
    X(0x74, 8, STALL, 2) \
    X(0x75, 8, STALL, 2) \
    X(0x76, 8, STALL, 2) \
    X(0x77, 8, STALL, 2) \
    X(0x78, 12, IN_r_iC, REG_A) \
    X(0x79, 12, OUT_iC_r, REG_A) \
    X(0x7A, 15, ADC_HL_rr, PAIR_SP) \
    X(0x7B, 20, LD_rr_inn, PAIR_SP) \
    X(0x7C, 8, STALL, 2) \
    X(0x7D, 8, STALL, 2) \
    X(0x7E, 8, STALL, 2) \
    X(0x7F, 8, STALL, 2) \
    X(0x80, 8, STALL, 2) \
    X(0x81, 8, STALL, 2) \
    X(0x82, 8, STALL, 2) \
    X(0x83, 8, STALL, 2) \
    X(0x84, 8, STALL, 2) \
    X(0x85, 8, STALL, 2) \
    X(0x86, 8, STALL, 2) \
    X(0x87, 8, STALL, 2) \
    X(0x88, 8, STALL, 2) \
    X(0x89, 8, STALL, 2) \
    X(0x8A, 8, STALL, 2) \
    X(0x8B, 8, STALL, 2) \
    X(0x8C, 8, STALL, 2) \
    X(0x8D, 8, STALL, 2) \
    X(0x8E, 8, STALL, 2) \
    X(0x8F, 8, STALL, 2) \
    X(0x90, 8, STALL, 2) \
    X(0x91, 8, STALL, 2) \
    X(0x92, 8, STALL, 2) \
    X(0x93, 8, STALL, 2) \
    X(0x94, 8, STALL, 2) \
    X(0x95, 8, STALL, 2) \
    X(0x96, 8, STALL, 2) \
    X(0x97, 8, STALL, 2) \
    X(0x98, 8, STALL, 2) \
    X(0x99, 8, STALL, 2) \
    X(0x9A, 8, STALL, 2) \
    X(0x9B, 8, STALL, 2) \
    X(0x9C, 8, STALL, 2) \
    X(0x9D, 8, STALL, 2) \
    X(0x9E, 8, STALL, 2) \
    X(0x9F, 8, STALL, 2) \
    X(0xA0, 16, TRANSFER, 1, false) \
    X(0xA1, 16, COMPARE, 1, false) \
    X(0xA2, 16, BLOCK_IO, false, 1, false) \
    X(0xA3, 16, BLOCK_IO, true, 1, false) \
    X(0xA4, 8, STALL, 2) \
    X(0xA5, 8, STALL, 2) \
    X(0xA6, 8, STALL, 2) \
    X(0xA7, 8, STALL, 2) \
    X(0xA8, 16, TRANSFER, -1, false) \
    X(0xA9, 16, COMPARE, -1, false) \
    X(0xAA, 16, BLOCK_IO, false, -1, false) \
    X(0xAB, 16, BLOCK_IO, true, -1, false) \
    X(0xAC, 8, STALL, 2) \
    X(0xAD, 8, STALL, 2) \
    X(0xAE, 8, STALL, 2) \
    X(0xAF, 8, STALL, 2) \
    X(0xB0, 16, TRANSFER, 1, true) \
    X(0xB1, 16, COMPARE, 1, true) \
    X(0xB2, 16, BLOCK_IO, false, 1, true) \
    X(0xB3, 16, BLOCK_IO, true, 1, true) \
    X(0xB4, 8, STALL, 2) \
    X(0xB5, 8, STALL, 2) \
    X(0xB6, 8, STALL, 2) \
    X(0xB7, 8, STALL, 2) \
    X(0xB8, 16, TRANSFER, -1, true) \
    X(0xB9, 16, COMPARE, -1, true) \
    X(0xBA, 16, BLOCK_IO, false, -1, true) \
    X(0xBB, 16, BLOCK_IO, true, -1, true) \
    X(0xBC, 8, STALL, 2) \
    X(0xBD, 8, STALL, 2) \
    X(0xBE, 8, STALL, 2) \
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
    X(0xCB, 8, STALL, 2) \
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
    X(0xE1, 8, STALL, 2) \
    X(0xE2, 8, STALL, 2) \
    X(0xE3, 8, STALL, 2) \
    X(0xE4, 8, STALL, 2) \
    X(0xE5, 8, STALL, 2) \
    X(0xE6, 8, STALL, 2) \
    X(0xE7, 8, STALL, 2) \
    X(0xE8, 8, STALL, 2) \
    X(0xE9, 8, STALL, 2) \
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
    X(0xF9, 8, STALL, 2) \
    X(0xFA, 8, STALL, 2) \
    X(0xFB, 8, STALL, 2) \
    X(0xFC, 8, STALL, 2) \
    X(0xFD, 8, STALL, 2) \
    X(0xFE, 8, STALL, 2) \
    X(0xFF, 8, STALL, 2)
// clang-format on
LB_CHECK_TABLE(ED_TABLE);

// Called with pc behind the ED byte.
LB_INLINE void Execute(uint16_t& pc, uint64_t& t) {
    switch (ReadByte(pc++)) {
#define LB_CASE(code, cycles, handler, ...)                                                        \
    case code:                                                                                     \
        t += cycles;                                                                               \
        LB_CALL(handler, __VA_ARGS__)(pc, t);                                                      \
        break;
        ED_TABLE(LB_CASE)
#undef LB_CASE
    }
}

} // namespace EdTable
