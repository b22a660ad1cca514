// The DD (IX) and FD (IY) tables. One table serves both prefixes: the handler gets the chosen index
// register as XY and never touches the other one. Only the documented forms run; the halves of the
// index registers, a prefix before an instruction without HL or (HL), a prefix before a prefix and
// the bit forms that also copy into a register stall: PC goes back to the prefix, nothing else
// changes.
//
// Legend: XY the index register, (XY+d) the byte at XY plus the signed displacement d (modulo
// 65,536), n an immediate byte, nn an immediate word (low byte first), (nn) the word at nn, (SP)
// the word at SP. Handler names: i = indirect, so LD_iXYd_n is LD (XY+d),n.
#include "cpu/processor.h"

#include "cpu/flags.h"

namespace {

// Fetches d and returns the address of (XY+d); wraps at either end of the address space.
LB_INLINE uint16_t FetchIndexedAddress(uint16_t XY) { return uint16_t(XY + FetchDisplacement()); }

// In the bit group d sits two bytes behind the fourth byte, which PC has already passed.
LB_INLINE uint16_t BitGroupAddress(uint16_t XY) {
    return uint16_t(XY + int8_t(ReadByte(uint16_t(CpuState.PC - 2))));
}

// Prefix and second byte: PC goes back onto the prefix.
void StallIndex(uint16_t&) { CpuState.PC = uint16_t(CpuState.PC - 2); }
// Prefix, CB, d, op: PC goes back onto the prefix.
void StallIndexBit(uint16_t&) { CpuState.PC = uint16_t(CpuState.PC - 4); }

void ADD_XY_BC(uint16_t& XY) { Add16(XY, CpuState.BC); }
void ADD_XY_DE(uint16_t& XY) { Add16(XY, CpuState.DE); }
void ADD_XY_XY(uint16_t& XY) { Add16(XY, XY); }
void ADD_XY_SP(uint16_t& XY) { Add16(XY, CpuState.SP); }
void LD_XY_nn(uint16_t& XY) { XY = FetchWord(); }
void LD_inn_XY(uint16_t& XY) { WriteWord(FetchWord(), XY); }
void LD_XY_inn(uint16_t& XY) { XY = ReadWord(FetchWord()); }
void INC_XY(uint16_t& XY) { XY = uint16_t(XY + 1); }
void DEC_XY(uint16_t& XY) { XY = uint16_t(XY - 1); }

void INC_iXYd(uint16_t& XY) {
    uint16_t ea = FetchIndexedAddress(XY);
    uint8_t v = uint8_t(ReadByte(ea) + 1);
    WriteByte(ea, v);
    IncrementFlags(v);
}
void DEC_iXYd(uint16_t& XY) {
    uint16_t ea = FetchIndexedAddress(XY);
    uint8_t v = uint8_t(ReadByte(ea) - 1);
    WriteByte(ea, v);
    DecrementFlags(v);
}
// d comes before n in the instruction.
void LD_iXYd_n(uint16_t& XY) {
    uint16_t ea = FetchIndexedAddress(XY);
    WriteByte(ea, FetchByte());
}

// H and L here are the registers H and L, never halves of XY.
void LD_B_iXYd(uint16_t& XY) { CpuState.B = ReadByte(FetchIndexedAddress(XY)); }
void LD_C_iXYd(uint16_t& XY) { CpuState.C = ReadByte(FetchIndexedAddress(XY)); }
void LD_D_iXYd(uint16_t& XY) { CpuState.D = ReadByte(FetchIndexedAddress(XY)); }
void LD_E_iXYd(uint16_t& XY) { CpuState.E = ReadByte(FetchIndexedAddress(XY)); }
void LD_H_iXYd(uint16_t& XY) { CpuState.H = ReadByte(FetchIndexedAddress(XY)); }
void LD_L_iXYd(uint16_t& XY) { CpuState.L = ReadByte(FetchIndexedAddress(XY)); }
void LD_A_iXYd(uint16_t& XY) { CpuState.A = ReadByte(FetchIndexedAddress(XY)); }
void LD_iXYd_B(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.B); }
void LD_iXYd_C(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.C); }
void LD_iXYd_D(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.D); }
void LD_iXYd_E(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.E); }
void LD_iXYd_H(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.H); }
void LD_iXYd_L(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.L); }
void LD_iXYd_A(uint16_t& XY) { WriteByte(FetchIndexedAddress(XY), CpuState.A); }

void ADD_A_iXYd(uint16_t& XY) { AddA(ReadByte(FetchIndexedAddress(XY))); }
void ADC_A_iXYd(uint16_t& XY) { AdcA(ReadByte(FetchIndexedAddress(XY))); }
void SUB_iXYd(uint16_t& XY) { SubA(ReadByte(FetchIndexedAddress(XY))); }
void SBC_A_iXYd(uint16_t& XY) { SbcA(ReadByte(FetchIndexedAddress(XY))); }
void AND_iXYd(uint16_t& XY) { AndA(ReadByte(FetchIndexedAddress(XY))); }
void XOR_iXYd(uint16_t& XY) { XorA(ReadByte(FetchIndexedAddress(XY))); }
void OR_iXYd(uint16_t& XY) { OrA(ReadByte(FetchIndexedAddress(XY))); }
void CP_iXYd(uint16_t& XY) { CpA(ReadByte(FetchIndexedAddress(XY))); }

// Prefix, CB, d, op: d is read before the op byte that selects the instruction.
void IndexBitGroup(uint16_t& XY) {
    CpuState.PC = uint16_t(CpuState.PC + 1);
    IndexBitTable[FetchByte()](XY);
}

void POP_XY(uint16_t& XY) { XY = Pop(); }
void PUSH_XY(uint16_t& XY) { Push(XY); }
void EX_iSP_XY(uint16_t& XY) {
    uint16_t w = ReadWord(CpuState.SP);
    WriteWord(CpuState.SP, XY);
    XY = w;
}
// Jumps to the address XY holds; no memory is read.
void JP_iXY(uint16_t& XY) { CpuState.PC = XY; }
void LD_SP_XY(uint16_t& XY) { CpuState.SP = XY; }

// The bit group: rotates, shifts, RES and SET write only the byte at (XY+d).
LB_INLINE void ShiftIndexed(uint16_t XY, uint8_t (*op)(uint8_t)) {
    uint16_t ea = BitGroupAddress(XY);
    WriteByte(ea, op(ReadByte(ea)));
}
void RLC_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpRLC); }
void RRC_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpRRC); }
void RL_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpRL); }
void RR_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpRR); }
void SLA_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpSLA); }
void SRA_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpSRA); }
void SRL_iXYd(uint16_t& XY) { ShiftIndexed(XY, OpSRL); }

template <int b> void BIT_b_iXYd(uint16_t& XY) { BitTest(ReadByte(BitGroupAddress(XY)), b); }
template <int b> void RES_b_iXYd(uint16_t& XY) {
    uint16_t ea = BitGroupAddress(XY);
    WriteByte(ea, uint8_t(ReadByte(ea) & ~(1u << b)));
}
template <int b> void SET_b_iXYd(uint16_t& XY) {
    uint16_t ea = BitGroupAddress(XY);
    WriteByte(ea, uint8_t(ReadByte(ea) | 1u << b));
}

} // namespace

void ExecuteIndexInstruction(uint16_t& XY) { IndexTable[FetchByte()](XY); }

// clang-format off
const IndexHandler IndexTable[256] = {
    StallIndex,      // 00
    StallIndex,      // 01
    StallIndex,      // 02
    StallIndex,      // 03
    StallIndex,      // 04
    StallIndex,      // 05
    StallIndex,      // 06
    StallIndex,      // 07
    StallIndex,      // 08
    ADD_XY_BC,       // 09 ADD XY,BC
    StallIndex,      // 0A
    StallIndex,      // 0B
    StallIndex,      // 0C
    StallIndex,      // 0D
    StallIndex,      // 0E
    StallIndex,      // 0F
    StallIndex,      // 10
    StallIndex,      // 11
    StallIndex,      // 12
    StallIndex,      // 13
    StallIndex,      // 14
    StallIndex,      // 15
    StallIndex,      // 16
    StallIndex,      // 17
    StallIndex,      // 18
    ADD_XY_DE,       // 19 ADD XY,DE
    StallIndex,      // 1A
    StallIndex,      // 1B
    StallIndex,      // 1C
    StallIndex,      // 1D
    StallIndex,      // 1E
    StallIndex,      // 1F
    StallIndex,      // 20
    LD_XY_nn,        // 21 LD XY,nn
    LD_inn_XY,       // 22 LD (nn),XY
    INC_XY,          // 23 INC XY
    StallIndex,      // 24
    StallIndex,      // 25
    StallIndex,      // 26
    StallIndex,      // 27
    StallIndex,      // 28
    ADD_XY_XY,       // 29 ADD XY,XY
    LD_XY_inn,       // 2A LD XY,(nn)
    DEC_XY,          // 2B DEC XY
    StallIndex,      // 2C
    StallIndex,      // 2D
    StallIndex,      // 2E
    StallIndex,      // 2F
    StallIndex,      // 30
    StallIndex,      // 31
    StallIndex,      // 32
    StallIndex,      // 33
    INC_iXYd,        // 34 INC (XY+d)
    DEC_iXYd,        // 35 DEC (XY+d)
    LD_iXYd_n,       // 36 LD (XY+d),n
    StallIndex,      // 37
    StallIndex,      // 38
    ADD_XY_SP,       // 39 ADD XY,SP
    StallIndex,      // 3A
    StallIndex,      // 3B
    StallIndex,      // 3C
    StallIndex,      // 3D
    StallIndex,      // 3E
    StallIndex,      // 3F
    StallIndex,      // 40
    StallIndex,      // 41
    StallIndex,      // 42
    StallIndex,      // 43
    StallIndex,      // 44
    StallIndex,      // 45
    LD_B_iXYd,       // 46 LD B,(XY+d)
    StallIndex,      // 47
    StallIndex,      // 48
    StallIndex,      // 49
    StallIndex,      // 4A
    StallIndex,      // 4B
    StallIndex,      // 4C
    StallIndex,      // 4D
    LD_C_iXYd,       // 4E LD C,(XY+d)
    StallIndex,      // 4F
    StallIndex,      // 50
    StallIndex,      // 51
    StallIndex,      // 52
    StallIndex,      // 53
    StallIndex,      // 54
    StallIndex,      // 55
    LD_D_iXYd,       // 56 LD D,(XY+d)
    StallIndex,      // 57
    StallIndex,      // 58
    StallIndex,      // 59
    StallIndex,      // 5A
    StallIndex,      // 5B
    StallIndex,      // 5C
    StallIndex,      // 5D
    LD_E_iXYd,       // 5E LD E,(XY+d)
    StallIndex,      // 5F
    StallIndex,      // 60
    StallIndex,      // 61
    StallIndex,      // 62
    StallIndex,      // 63
    StallIndex,      // 64
    StallIndex,      // 65
    LD_H_iXYd,       // 66 LD H,(XY+d)
    StallIndex,      // 67
    StallIndex,      // 68
    StallIndex,      // 69
    StallIndex,      // 6A
    StallIndex,      // 6B
    StallIndex,      // 6C
    StallIndex,      // 6D
    LD_L_iXYd,       // 6E LD L,(XY+d)
    StallIndex,      // 6F
    LD_iXYd_B,       // 70 LD (XY+d),B
    LD_iXYd_C,       // 71 LD (XY+d),C
    LD_iXYd_D,       // 72 LD (XY+d),D
    LD_iXYd_E,       // 73 LD (XY+d),E
    LD_iXYd_H,       // 74 LD (XY+d),H
    LD_iXYd_L,       // 75 LD (XY+d),L
    StallIndex,      // 76
    LD_iXYd_A,       // 77 LD (XY+d),A
    StallIndex,      // 78
    StallIndex,      // 79
    StallIndex,      // 7A
    StallIndex,      // 7B
    StallIndex,      // 7C
    StallIndex,      // 7D
    LD_A_iXYd,       // 7E LD A,(XY+d)
    StallIndex,      // 7F
    StallIndex,      // 80
    StallIndex,      // 81
    StallIndex,      // 82
    StallIndex,      // 83
    StallIndex,      // 84
    StallIndex,      // 85
    ADD_A_iXYd,      // 86 ADD A,(XY+d)
    StallIndex,      // 87
    StallIndex,      // 88
    StallIndex,      // 89
    StallIndex,      // 8A
    StallIndex,      // 8B
    StallIndex,      // 8C
    StallIndex,      // 8D
    ADC_A_iXYd,      // 8E ADC A,(XY+d)
    StallIndex,      // 8F
    StallIndex,      // 90
    StallIndex,      // 91
    StallIndex,      // 92
    StallIndex,      // 93
    StallIndex,      // 94
    StallIndex,      // 95
    SUB_iXYd,        // 96 SUB (XY+d)
    StallIndex,      // 97
    StallIndex,      // 98
    StallIndex,      // 99
    StallIndex,      // 9A
    StallIndex,      // 9B
    StallIndex,      // 9C
    StallIndex,      // 9D
    SBC_A_iXYd,      // 9E SBC A,(XY+d)
    StallIndex,      // 9F
    StallIndex,      // A0
    StallIndex,      // A1
    StallIndex,      // A2
    StallIndex,      // A3
    StallIndex,      // A4
    StallIndex,      // A5
    AND_iXYd,        // A6 AND (XY+d)
    StallIndex,      // A7
    StallIndex,      // A8
    StallIndex,      // A9
    StallIndex,      // AA
    StallIndex,      // AB
    StallIndex,      // AC
    StallIndex,      // AD
    XOR_iXYd,        // AE XOR (XY+d)
    StallIndex,      // AF
    StallIndex,      // B0
    StallIndex,      // B1
    StallIndex,      // B2
    StallIndex,      // B3
    StallIndex,      // B4
    StallIndex,      // B5
    OR_iXYd,         // B6 OR (XY+d)
    StallIndex,      // B7
    StallIndex,      // B8
    StallIndex,      // B9
    StallIndex,      // BA
    StallIndex,      // BB
    StallIndex,      // BC
    StallIndex,      // BD
    CP_iXYd,         // BE CP (XY+d)
    StallIndex,      // BF
    StallIndex,      // C0
    StallIndex,      // C1
    StallIndex,      // C2
    StallIndex,      // C3
    StallIndex,      // C4
    StallIndex,      // C5
    StallIndex,      // C6
    StallIndex,      // C7
    StallIndex,      // C8
    StallIndex,      // C9
    StallIndex,      // CA
    IndexBitGroup,   // CB XY bit group
    StallIndex,      // CC
    StallIndex,      // CD
    StallIndex,      // CE
    StallIndex,      // CF
    StallIndex,      // D0
    StallIndex,      // D1
    StallIndex,      // D2
    StallIndex,      // D3
    StallIndex,      // D4
    StallIndex,      // D5
    StallIndex,      // D6
    StallIndex,      // D7
    StallIndex,      // D8
    StallIndex,      // D9
    StallIndex,      // DA
    StallIndex,      // DB
    StallIndex,      // DC
    StallIndex,      // DD
    StallIndex,      // DE
    StallIndex,      // DF
    StallIndex,      // E0
    POP_XY,          // E1 POP XY
    StallIndex,      // E2
    EX_iSP_XY,       // E3 EX (SP),XY
    StallIndex,      // E4
    PUSH_XY,         // E5 PUSH XY
    StallIndex,      // E6
    StallIndex,      // E7
    StallIndex,      // E8
    JP_iXY,          // E9 JP (XY)
    StallIndex,      // EA
    StallIndex,      // EB
    StallIndex,      // EC
    StallIndex,      // ED
    StallIndex,      // EE
    StallIndex,      // EF
    StallIndex,      // F0
    StallIndex,      // F1
    StallIndex,      // F2
    StallIndex,      // F3
    StallIndex,      // F4
    StallIndex,      // F5
    StallIndex,      // F6
    StallIndex,      // F7
    StallIndex,      // F8
    LD_SP_XY,        // F9 LD SP,XY
    StallIndex,      // FA
    StallIndex,      // FB
    StallIndex,      // FC
    StallIndex,      // FD
    StallIndex,      // FE
    StallIndex,      // FF
};

// Fourth byte of prefix, CB, d, op.
const IndexHandler IndexBitTable[256] = {
    StallIndexBit,       // 00
    StallIndexBit,       // 01
    StallIndexBit,       // 02
    StallIndexBit,       // 03
    StallIndexBit,       // 04
    StallIndexBit,       // 05
    RLC_iXYd,            // 06 RLC (XY+d)
    StallIndexBit,       // 07
    StallIndexBit,       // 08
    StallIndexBit,       // 09
    StallIndexBit,       // 0A
    StallIndexBit,       // 0B
    StallIndexBit,       // 0C
    StallIndexBit,       // 0D
    RRC_iXYd,            // 0E RRC (XY+d)
    StallIndexBit,       // 0F
    StallIndexBit,       // 10
    StallIndexBit,       // 11
    StallIndexBit,       // 12
    StallIndexBit,       // 13
    StallIndexBit,       // 14
    StallIndexBit,       // 15
    RL_iXYd,             // 16 RL (XY+d)
    StallIndexBit,       // 17
    StallIndexBit,       // 18
    StallIndexBit,       // 19
    StallIndexBit,       // 1A
    StallIndexBit,       // 1B
    StallIndexBit,       // 1C
    StallIndexBit,       // 1D
    RR_iXYd,             // 1E RR (XY+d)
    StallIndexBit,       // 1F
    StallIndexBit,       // 20
    StallIndexBit,       // 21
    StallIndexBit,       // 22
    StallIndexBit,       // 23
    StallIndexBit,       // 24
    StallIndexBit,       // 25
    SLA_iXYd,            // 26 SLA (XY+d)
    StallIndexBit,       // 27
    StallIndexBit,       // 28
    StallIndexBit,       // 29
    StallIndexBit,       // 2A
    StallIndexBit,       // 2B
    StallIndexBit,       // 2C
    StallIndexBit,       // 2D
    SRA_iXYd,            // 2E SRA (XY+d)
    StallIndexBit,       // 2F
    StallIndexBit,       // 30
    StallIndexBit,       // 31
    StallIndexBit,       // 32
    StallIndexBit,       // 33
    StallIndexBit,       // 34
    StallIndexBit,       // 35
    StallIndexBit,       // 36
    StallIndexBit,       // 37
    StallIndexBit,       // 38
    StallIndexBit,       // 39
    StallIndexBit,       // 3A
    StallIndexBit,       // 3B
    StallIndexBit,       // 3C
    StallIndexBit,       // 3D
    SRL_iXYd,            // 3E SRL (XY+d)
    StallIndexBit,       // 3F
    StallIndexBit,       // 40
    StallIndexBit,       // 41
    StallIndexBit,       // 42
    StallIndexBit,       // 43
    StallIndexBit,       // 44
    StallIndexBit,       // 45
    BIT_b_iXYd<0>,       // 46 BIT 0,(XY+d)
    StallIndexBit,       // 47
    StallIndexBit,       // 48
    StallIndexBit,       // 49
    StallIndexBit,       // 4A
    StallIndexBit,       // 4B
    StallIndexBit,       // 4C
    StallIndexBit,       // 4D
    BIT_b_iXYd<1>,       // 4E BIT 1,(XY+d)
    StallIndexBit,       // 4F
    StallIndexBit,       // 50
    StallIndexBit,       // 51
    StallIndexBit,       // 52
    StallIndexBit,       // 53
    StallIndexBit,       // 54
    StallIndexBit,       // 55
    BIT_b_iXYd<2>,       // 56 BIT 2,(XY+d)
    StallIndexBit,       // 57
    StallIndexBit,       // 58
    StallIndexBit,       // 59
    StallIndexBit,       // 5A
    StallIndexBit,       // 5B
    StallIndexBit,       // 5C
    StallIndexBit,       // 5D
    BIT_b_iXYd<3>,       // 5E BIT 3,(XY+d)
    StallIndexBit,       // 5F
    StallIndexBit,       // 60
    StallIndexBit,       // 61
    StallIndexBit,       // 62
    StallIndexBit,       // 63
    StallIndexBit,       // 64
    StallIndexBit,       // 65
    BIT_b_iXYd<4>,       // 66 BIT 4,(XY+d)
    StallIndexBit,       // 67
    StallIndexBit,       // 68
    StallIndexBit,       // 69
    StallIndexBit,       // 6A
    StallIndexBit,       // 6B
    StallIndexBit,       // 6C
    StallIndexBit,       // 6D
    BIT_b_iXYd<5>,       // 6E BIT 5,(XY+d)
    StallIndexBit,       // 6F
    StallIndexBit,       // 70
    StallIndexBit,       // 71
    StallIndexBit,       // 72
    StallIndexBit,       // 73
    StallIndexBit,       // 74
    StallIndexBit,       // 75
    BIT_b_iXYd<6>,       // 76 BIT 6,(XY+d)
    StallIndexBit,       // 77
    StallIndexBit,       // 78
    StallIndexBit,       // 79
    StallIndexBit,       // 7A
    StallIndexBit,       // 7B
    StallIndexBit,       // 7C
    StallIndexBit,       // 7D
    BIT_b_iXYd<7>,       // 7E BIT 7,(XY+d)
    StallIndexBit,       // 7F
    StallIndexBit,       // 80
    StallIndexBit,       // 81
    StallIndexBit,       // 82
    StallIndexBit,       // 83
    StallIndexBit,       // 84
    StallIndexBit,       // 85
    RES_b_iXYd<0>,       // 86 RES 0,(XY+d)
    StallIndexBit,       // 87
    StallIndexBit,       // 88
    StallIndexBit,       // 89
    StallIndexBit,       // 8A
    StallIndexBit,       // 8B
    StallIndexBit,       // 8C
    StallIndexBit,       // 8D
    RES_b_iXYd<1>,       // 8E RES 1,(XY+d)
    StallIndexBit,       // 8F
    StallIndexBit,       // 90
    StallIndexBit,       // 91
    StallIndexBit,       // 92
    StallIndexBit,       // 93
    StallIndexBit,       // 94
    StallIndexBit,       // 95
    RES_b_iXYd<2>,       // 96 RES 2,(XY+d)
    StallIndexBit,       // 97
    StallIndexBit,       // 98
    StallIndexBit,       // 99
    StallIndexBit,       // 9A
    StallIndexBit,       // 9B
    StallIndexBit,       // 9C
    StallIndexBit,       // 9D
    RES_b_iXYd<3>,       // 9E RES 3,(XY+d)
    StallIndexBit,       // 9F
    StallIndexBit,       // A0
    StallIndexBit,       // A1
    StallIndexBit,       // A2
    StallIndexBit,       // A3
    StallIndexBit,       // A4
    StallIndexBit,       // A5
    RES_b_iXYd<4>,       // A6 RES 4,(XY+d)
    StallIndexBit,       // A7
    StallIndexBit,       // A8
    StallIndexBit,       // A9
    StallIndexBit,       // AA
    StallIndexBit,       // AB
    StallIndexBit,       // AC
    StallIndexBit,       // AD
    RES_b_iXYd<5>,       // AE RES 5,(XY+d)
    StallIndexBit,       // AF
    StallIndexBit,       // B0
    StallIndexBit,       // B1
    StallIndexBit,       // B2
    StallIndexBit,       // B3
    StallIndexBit,       // B4
    StallIndexBit,       // B5
    RES_b_iXYd<6>,       // B6 RES 6,(XY+d)
    StallIndexBit,       // B7
    StallIndexBit,       // B8
    StallIndexBit,       // B9
    StallIndexBit,       // BA
    StallIndexBit,       // BB
    StallIndexBit,       // BC
    StallIndexBit,       // BD
    RES_b_iXYd<7>,       // BE RES 7,(XY+d)
    StallIndexBit,       // BF
    StallIndexBit,       // C0
    StallIndexBit,       // C1
    StallIndexBit,       // C2
    StallIndexBit,       // C3
    StallIndexBit,       // C4
    StallIndexBit,       // C5
    SET_b_iXYd<0>,       // C6 SET 0,(XY+d)
    StallIndexBit,       // C7
    StallIndexBit,       // C8
    StallIndexBit,       // C9
    StallIndexBit,       // CA
    StallIndexBit,       // CB
    StallIndexBit,       // CC
    StallIndexBit,       // CD
    SET_b_iXYd<1>,       // CE SET 1,(XY+d)
    StallIndexBit,       // CF
    StallIndexBit,       // D0
    StallIndexBit,       // D1
    StallIndexBit,       // D2
    StallIndexBit,       // D3
    StallIndexBit,       // D4
    StallIndexBit,       // D5
    SET_b_iXYd<2>,       // D6 SET 2,(XY+d)
    StallIndexBit,       // D7
    StallIndexBit,       // D8
    StallIndexBit,       // D9
    StallIndexBit,       // DA
    StallIndexBit,       // DB
    StallIndexBit,       // DC
    StallIndexBit,       // DD
    SET_b_iXYd<3>,       // DE SET 3,(XY+d)
    StallIndexBit,       // DF
    StallIndexBit,       // E0
    StallIndexBit,       // E1
    StallIndexBit,       // E2
    StallIndexBit,       // E3
    StallIndexBit,       // E4
    StallIndexBit,       // E5
    SET_b_iXYd<4>,       // E6 SET 4,(XY+d)
    StallIndexBit,       // E7
    StallIndexBit,       // E8
    StallIndexBit,       // E9
    StallIndexBit,       // EA
    StallIndexBit,       // EB
    StallIndexBit,       // EC
    StallIndexBit,       // ED
    SET_b_iXYd<5>,       // EE SET 5,(XY+d)
    StallIndexBit,       // EF
    StallIndexBit,       // F0
    StallIndexBit,       // F1
    StallIndexBit,       // F2
    StallIndexBit,       // F3
    StallIndexBit,       // F4
    StallIndexBit,       // F5
    SET_b_iXYd<6>,       // F6 SET 6,(XY+d)
    StallIndexBit,       // F7
    StallIndexBit,       // F8
    StallIndexBit,       // F9
    StallIndexBit,       // FA
    StallIndexBit,       // FB
    StallIndexBit,       // FC
    StallIndexBit,       // FD
    SET_b_iXYd<7>,       // FE SET 7,(XY+d)
    StallIndexBit,       // FF
};
// clang-format on
