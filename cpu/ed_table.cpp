// The ED table: port I/O through register C, 16-bit arithmetic with carry on HL, loads at an
// absolute address, NEG, RETN/RETI, the interrupt-mode and I instructions, RRD/RLD and the sixteen
// block instructions. The repeating block instructions finish every repetition inside one call, so
// no interrupt or control request is seen between two of them. Any other second byte stalls: PC
// goes back onto the ED byte and nothing else changes.
//
// Legend: (C) the port numbered by register C (B plays no part), (nn) the word at the immediate
// address nn, rr one of BC, DE, HL, SP. Handler names: i = indirect, so IN_B_iC is IN B,(C).
#include "cpu/processor.h"

#include "cpu/flags.h"
#include "machine/ports.h"

#include <cstdlib>

namespace {

// S, Z and P/V from v, H = N = 0, C, Y and X kept: IN r,(C), RRD, RLD.
LB_INLINE void InFlags(uint8_t v) {
    CpuState.F = uint8_t((CpuState.F & (FLAG_C | FLAG_Y | FLAG_X)) | (v & FLAG_S) |
                         (v ? 0 : FLAG_Z) | (ParityTable[v] ? FLAG_PV : 0));
}

// LD A,I and LD A,R: as InFlags, but P/V holds IFF2.
LB_INLINE void LoadAFlags() {
    uint8_t a = CpuState.A;
    CpuState.F = uint8_t((CpuState.F & (FLAG_C | FLAG_Y | FLAG_X)) | (a & FLAG_S) |
                         (a ? 0 : FLAG_Z) | (CpuState.IFF2 ? FLAG_PV : 0));
}

// Second byte not executed: PC goes back onto the ED byte.
void StallEd() { CpuState.PC = uint16_t(CpuState.PC - 2); }

void IN_B_iC() { InFlags(CpuState.B = PortRead(CpuState.C)); }
void IN_C_iC() { InFlags(CpuState.C = PortRead(CpuState.C)); }
void IN_D_iC() { InFlags(CpuState.D = PortRead(CpuState.C)); }
void IN_E_iC() { InFlags(CpuState.E = PortRead(CpuState.C)); }
void IN_H_iC() { InFlags(CpuState.H = PortRead(CpuState.C)); }
void IN_L_iC() { InFlags(CpuState.L = PortRead(CpuState.C)); }
void IN_A_iC() { InFlags(CpuState.A = PortRead(CpuState.C)); }
void OUT_iC_B() { PortWrite(CpuState.C, CpuState.B); }
void OUT_iC_C() { PortWrite(CpuState.C, CpuState.C); }
void OUT_iC_D() { PortWrite(CpuState.C, CpuState.D); }
void OUT_iC_E() { PortWrite(CpuState.C, CpuState.E); }
void OUT_iC_H() { PortWrite(CpuState.C, CpuState.H); }
void OUT_iC_L() { PortWrite(CpuState.C, CpuState.L); }
void OUT_iC_A() { PortWrite(CpuState.C, CpuState.A); }

LB_INLINE void AdcHL(uint16_t b) {
    unsigned a = CpuState.HL, r = a + b + (CpuState.F & FLAG_C);
    CpuState.HL = uint16_t(r);
    Adc16Flags(a, b, r);
}
LB_INLINE void SbcHL(uint16_t b) {
    unsigned a = CpuState.HL, r = a - b - (CpuState.F & FLAG_C);
    CpuState.HL = uint16_t(r);
    Sbc16Flags(a, b, r);
}
void ADC_HL_BC() { AdcHL(CpuState.BC); }
void ADC_HL_DE() { AdcHL(CpuState.DE); }
void ADC_HL_HL() { AdcHL(CpuState.HL); }
void ADC_HL_SP() { AdcHL(CpuState.SP); }
void SBC_HL_BC() { SbcHL(CpuState.BC); }
void SBC_HL_DE() { SbcHL(CpuState.DE); }
void SBC_HL_HL() { SbcHL(CpuState.HL); }
void SBC_HL_SP() { SbcHL(CpuState.SP); }

void LD_inn_BC() { WriteWord(FetchWord(), CpuState.BC); }
void LD_inn_DE() { WriteWord(FetchWord(), CpuState.DE); }
void LD_inn_HL() { WriteWord(FetchWord(), CpuState.HL); }
void LD_inn_SP() { WriteWord(FetchWord(), CpuState.SP); }
void LD_BC_inn() { CpuState.BC = ReadWord(FetchWord()); }
void LD_DE_inn() { CpuState.DE = ReadWord(FetchWord()); }
void LD_HL_inn() { CpuState.HL = ReadWord(FetchWord()); }
void LD_SP_inn() { CpuState.SP = ReadWord(FetchWord()); }

void NEG() {
    unsigned b = CpuState.A, r = 0u - b;
    CpuState.A = uint8_t(r);
    SubtractionFlags(0, b, r);
}

// RETN restores the interrupt enable that the NMI entry saved in IFF2; RETI leaves both alone.
void RETN() {
    CpuState.IFF1 = CpuState.IFF2;
    CpuState.PC = Pop();
}
void RETI() { CpuState.PC = Pop(); }

void IM_0() { CpuState.IM = 0; }
void IM_1() { CpuState.IM = 1; }
void IM_2() { CpuState.IM = 2; }
void LD_I_A() { CpuState.I = CpuState.A; }
void LD_A_I() {
    CpuState.A = CpuState.I;
    LoadAFlags();
}
// There is no refresh register: A gets bits 8-14 of a 15-bit pseudo-random number, so 0-127.
// glibc's rand() yields 31 bits, hence the mask.
void LD_A_R() {
    CpuState.A = uint8_t((std::rand() & 0x7FFF) >> 8);
    LoadAFlags();
}

// Digit rotates between the low nibble of A and the byte at HL.
void RRD() {
    uint8_t a = CpuState.A, m = ReadByte(CpuState.HL);
    WriteByte(CpuState.HL, uint8_t((a & 0x0F) << 4 | m >> 4));
    CpuState.A = uint8_t((a & 0xF0) | (m & 0x0F));
    InFlags(CpuState.A);
}
void RLD() {
    uint8_t a = CpuState.A, m = ReadByte(CpuState.HL);
    WriteByte(CpuState.HL, uint8_t((m & 0x0F) << 4 | (a & 0x0F)));
    CpuState.A = uint8_t((a & 0xF0) | m >> 4);
    InFlags(CpuState.A);
}

// Block transfer: H = N = 0, P/V = BC non-zero; S, Z, C, Y, X kept. A repeating transfer counts
// BC down to 0 (BC = 0 at the start moves 65,536 bytes), one byte at a time in address order, so
// overlapping areas behave byte by byte.
template <int step> LB_INLINE void Transfer(bool repeat) {
    uint16_t hl = CpuState.HL, de = CpuState.DE, bc = CpuState.BC;
    do {
        WriteByte(de, ReadByte(hl));
        hl = uint16_t(hl + step);
        de = uint16_t(de + step);
        bc = uint16_t(bc - 1);
    } while (repeat && bc);
    CpuState.HL = hl;
    CpuState.DE = de;
    CpuState.BC = bc;
    CpuState.F =
        uint8_t((CpuState.F & (FLAG_S | FLAG_Z | FLAG_C | FLAG_Y | FLAG_X)) | (bc ? FLAG_PV : 0));
}
void LDI() { Transfer<1>(false); }
void LDD() { Transfer<-1>(false); }
void LDIR() { Transfer<1>(true); }
void LDDR() { Transfer<-1>(true); }

// Block compare: flags of the last CP A,(HL) with C kept, then P/V = BC non-zero. A repeating
// compare stops after the count that made BC 0 or found the byte equal to A.
template <int step> LB_INLINE void Compare(bool repeat) {
    uint16_t hl = CpuState.HL, bc = CpuState.BC;
    uint8_t a = CpuState.A, m;
    do {
        m = ReadByte(hl);
        hl = uint16_t(hl + step);
        bc = uint16_t(bc - 1);
    } while (repeat && bc && m != a);
    CpuState.HL = hl;
    CpuState.BC = bc;
    uint8_t carry = CpuState.F & FLAG_C;
    SubtractionFlags(a, m, unsigned(a) - m);
    CpuState.F = uint8_t((CpuState.F & ~(FLAG_C | FLAG_PV)) | carry | (bc ? FLAG_PV : 0));
}
void CPI() { Compare<1>(false); }
void CPD() { Compare<-1>(false); }
void CPIR() { Compare<1>(true); }
void CPDR() { Compare<-1>(true); }

// Block input and output: N = 1, Z = B is 0 after the count; S, H, P/V, C, Y, X kept. B = 0 at the
// start of a repeating form means 256 bytes. The output writes the port before HL and B step, so
// the host file service on port 255 sees the HL and B of that byte; registers are re-read after
// each port write because that service may change HL.
template <bool output, int step> LB_INLINE void BlockIo(bool repeat) {
    auto& s = CpuState;
    do {
        if constexpr (output)
            PortWrite(s.C, ReadByte(s.HL));
        else
            WriteByte(s.HL, PortRead(s.C));
        s.HL = uint16_t(s.HL + step);
        s.B = uint8_t(s.B - 1);
    } while (repeat && s.B);
    s.F = uint8_t((s.F & ~FLAG_Z) | FLAG_N | (s.B ? 0 : FLAG_Z));
}
template <int step> LB_INLINE void Input(bool repeat) { BlockIo<false, step>(repeat); }
template <int step> LB_INLINE void Output(bool repeat) { BlockIo<true, step>(repeat); }
void INI() { Input<1>(false); }
void IND() { Input<-1>(false); }
void INIR() { Input<1>(true); }
void INDR() { Input<-1>(true); }
void OUTI() { Output<1>(false); }
void OUTD() { Output<-1>(false); }
void OTIR() { Output<1>(true); }
void OTDR() { Output<-1>(true); }

} // namespace

void ExecuteEdInstruction() { EdTable[FetchByte()](); }

// clang-format off
const Handler EdTable[256] = {
    StallEd,     // 00
    StallEd,     // 01
    StallEd,     // 02
    StallEd,     // 03
    StallEd,     // 04
    StallEd,     // 05
    StallEd,     // 06
    StallEd,     // 07
    StallEd,     // 08
    StallEd,     // 09
    StallEd,     // 0A
    StallEd,     // 0B
    StallEd,     // 0C
    StallEd,     // 0D
    StallEd,     // 0E
    StallEd,     // 0F
    StallEd,     // 10
    StallEd,     // 11
    StallEd,     // 12
    StallEd,     // 13
    StallEd,     // 14
    StallEd,     // 15
    StallEd,     // 16
    StallEd,     // 17
    StallEd,     // 18
    StallEd,     // 19
    StallEd,     // 1A
    StallEd,     // 1B
    StallEd,     // 1C
    StallEd,     // 1D
    StallEd,     // 1E
    StallEd,     // 1F
    StallEd,     // 20
    StallEd,     // 21
    StallEd,     // 22
    StallEd,     // 23
    StallEd,     // 24
    StallEd,     // 25
    StallEd,     // 26
    StallEd,     // 27
    StallEd,     // 28
    StallEd,     // 29
    StallEd,     // 2A
    StallEd,     // 2B
    StallEd,     // 2C
    StallEd,     // 2D
    StallEd,     // 2E
    StallEd,     // 2F
    StallEd,     // 30
    StallEd,     // 31
    StallEd,     // 32
    StallEd,     // 33
    StallEd,     // 34
    StallEd,     // 35
    StallEd,     // 36
    StallEd,     // 37
    StallEd,     // 38
    StallEd,     // 39
    StallEd,     // 3A
    StallEd,     // 3B
    StallEd,     // 3C
    StallEd,     // 3D
    StallEd,     // 3E
    StallEd,     // 3F
    IN_B_iC,     // 40 IN B,(C)
    OUT_iC_B,    // 41 OUT (C),B
    SBC_HL_BC,   // 42 SBC HL,BC
    LD_inn_BC,   // 43 LD (nn),BC
    NEG,         // 44 NEG
    RETN,        // 45 RETN
    IM_0,        // 46 IM 0
    LD_I_A,      // 47 LD I,A
    IN_C_iC,     // 48 IN C,(C)
    OUT_iC_C,    // 49 OUT (C),C
    ADC_HL_BC,   // 4A ADC HL,BC
    LD_BC_inn,   // 4B LD BC,(nn)
    StallEd,     // 4C
    RETI,        // 4D RETI
    StallEd,     // 4E
    StallEd,     // 4F
    IN_D_iC,     // 50 IN D,(C)
    OUT_iC_D,    // 51 OUT (C),D
    SBC_HL_DE,   // 52 SBC HL,DE
    LD_inn_DE,   // 53 LD (nn),DE
    StallEd,     // 54
    StallEd,     // 55
    IM_1,        // 56 IM 1
    LD_A_I,      // 57 LD A,I
    IN_E_iC,     // 58 IN E,(C)
    OUT_iC_E,    // 59 OUT (C),E
    ADC_HL_DE,   // 5A ADC HL,DE
    LD_DE_inn,   // 5B LD DE,(nn)
    StallEd,     // 5C
    StallEd,     // 5D
    IM_2,        // 5E IM 2
    LD_A_R,      // 5F LD A,R
    IN_H_iC,     // 60 IN H,(C)
    OUT_iC_H,    // 61 OUT (C),H
    SBC_HL_HL,   // 62 SBC HL,HL
    LD_inn_HL,   // 63 LD (nn),HL
    StallEd,     // 64
    StallEd,     // 65
    StallEd,     // 66
    RRD,         // 67 RRD
    IN_L_iC,     // 68 IN L,(C)
    OUT_iC_L,    // 69 OUT (C),L
    ADC_HL_HL,   // 6A ADC HL,HL
    LD_HL_inn,   // 6B LD HL,(nn)
    StallEd,     // 6C
    StallEd,     // 6D
    StallEd,     // 6E
    RLD,         // 6F RLD
    StallEd,     // 70
    StallEd,     // 71
    SBC_HL_SP,   // 72 SBC HL,SP
    LD_inn_SP,   // 73 LD (nn),SP
    StallEd,     // 74
    StallEd,     // 75
    StallEd,     // 76
    StallEd,     // 77
    IN_A_iC,     // 78 IN A,(C)
    OUT_iC_A,    // 79 OUT (C),A
    ADC_HL_SP,   // 7A ADC HL,SP
    LD_SP_inn,   // 7B LD SP,(nn)
    StallEd,     // 7C
    StallEd,     // 7D
    StallEd,     // 7E
    StallEd,     // 7F
    StallEd,     // 80
    StallEd,     // 81
    StallEd,     // 82
    StallEd,     // 83
    StallEd,     // 84
    StallEd,     // 85
    StallEd,     // 86
    StallEd,     // 87
    StallEd,     // 88
    StallEd,     // 89
    StallEd,     // 8A
    StallEd,     // 8B
    StallEd,     // 8C
    StallEd,     // 8D
    StallEd,     // 8E
    StallEd,     // 8F
    StallEd,     // 90
    StallEd,     // 91
    StallEd,     // 92
    StallEd,     // 93
    StallEd,     // 94
    StallEd,     // 95
    StallEd,     // 96
    StallEd,     // 97
    StallEd,     // 98
    StallEd,     // 99
    StallEd,     // 9A
    StallEd,     // 9B
    StallEd,     // 9C
    StallEd,     // 9D
    StallEd,     // 9E
    StallEd,     // 9F
    LDI,         // A0 LDI
    CPI,         // A1 CPI
    INI,         // A2 INI
    OUTI,        // A3 OUTI
    StallEd,     // A4
    StallEd,     // A5
    StallEd,     // A6
    StallEd,     // A7
    LDD,         // A8 LDD
    CPD,         // A9 CPD
    IND,         // AA IND
    OUTD,        // AB OUTD
    StallEd,     // AC
    StallEd,     // AD
    StallEd,     // AE
    StallEd,     // AF
    LDIR,        // B0 LDIR
    CPIR,        // B1 CPIR
    INIR,        // B2 INIR
    OTIR,        // B3 OTIR
    StallEd,     // B4
    StallEd,     // B5
    StallEd,     // B6
    StallEd,     // B7
    LDDR,        // B8 LDDR
    CPDR,        // B9 CPDR
    INDR,        // BA INDR
    OTDR,        // BB OTDR
    StallEd,     // BC
    StallEd,     // BD
    StallEd,     // BE
    StallEd,     // BF
    StallEd,     // C0
    StallEd,     // C1
    StallEd,     // C2
    StallEd,     // C3
    StallEd,     // C4
    StallEd,     // C5
    StallEd,     // C6
    StallEd,     // C7
    StallEd,     // C8
    StallEd,     // C9
    StallEd,     // CA
    StallEd,     // CB
    StallEd,     // CC
    StallEd,     // CD
    StallEd,     // CE
    StallEd,     // CF
    StallEd,     // D0
    StallEd,     // D1
    StallEd,     // D2
    StallEd,     // D3
    StallEd,     // D4
    StallEd,     // D5
    StallEd,     // D6
    StallEd,     // D7
    StallEd,     // D8
    StallEd,     // D9
    StallEd,     // DA
    StallEd,     // DB
    StallEd,     // DC
    StallEd,     // DD
    StallEd,     // DE
    StallEd,     // DF
    StallEd,     // E0
    StallEd,     // E1
    StallEd,     // E2
    StallEd,     // E3
    StallEd,     // E4
    StallEd,     // E5
    StallEd,     // E6
    StallEd,     // E7
    StallEd,     // E8
    StallEd,     // E9
    StallEd,     // EA
    StallEd,     // EB
    StallEd,     // EC
    StallEd,     // ED
    StallEd,     // EE
    StallEd,     // EF
    StallEd,     // F0
    StallEd,     // F1
    StallEd,     // F2
    StallEd,     // F3
    StallEd,     // F4
    StallEd,     // F5
    StallEd,     // F6
    StallEd,     // F7
    StallEd,     // F8
    StallEd,     // F9
    StallEd,     // FA
    StallEd,     // FB
    StallEd,     // FC
    StallEd,     // FD
    StallEd,     // FE
    StallEd,     // FF
};
// clang-format on
