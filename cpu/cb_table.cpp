// The CB table: rotates and shifts, BIT, RES and SET on B, C, D, E, H, L, (HL) and A, one handler
// per second byte in opcode order. Every executed CB instruction is two bytes long.
//
// Handler names: RLC_r<REG_B> is RLC B, BIT_b_r<7, REG_iHL> is BIT 7,(HL); REG_iHL is the byte at
// the address in HL, read and written back at that same address. The bit number and the operand
// are template arguments, so nothing is decoded at run time.
//
// Second bytes 0x30-0x37 are not instructions on this machine: STALL puts PC back on the CB byte
// and changes nothing else, so the processor stays there until an interrupt, Reset or Quit.
#include "cpu/flags.h"
#include "cpu/main_table.h"
#include "cpu/processor.h"

#include <cstdint>

namespace {

using ShiftOperation = uint8_t (*)(uint8_t);

// The operation sets F by the shift flag rule.
template <ShiftOperation Op, int r> void Shift() { WriteOperand<r>(Op(ReadOperand<r>())); }

template <int r> void RLC_r() { Shift<OpRLC, r>(); }
template <int r> void RRC_r() { Shift<OpRRC, r>(); }
template <int r> void RL_r() { Shift<OpRL, r>(); }
template <int r> void RR_r() { Shift<OpRR, r>(); }
template <int r> void SLA_r() { Shift<OpSLA, r>(); }
template <int r> void SRA_r() { Shift<OpSRA, r>(); }
template <int r> void SRL_r() { Shift<OpSRL, r>(); }

// BIT only reads; RES and SET leave F alone.
template <int b, int r> void BIT_b_r() { BitTest(ReadOperand<r>(), b); }
template <int b, int r> void RES_b_r() { WriteOperand<r>(uint8_t(ReadOperand<r>() & ~(1 << b))); }
template <int b, int r> void SET_b_r() { WriteOperand<r>(uint8_t(ReadOperand<r>() | 1 << b)); }

// Back to the CB byte, two bytes before PC.
void STALL() { CpuState.PC = uint16_t(CpuState.PC - 2); }

} // namespace

const Handler CbTable[256] = {
    RLC_r<REG_B>,        // 0x00 RLC B
    RLC_r<REG_C>,        // 0x01 RLC C
    RLC_r<REG_D>,        // 0x02 RLC D
    RLC_r<REG_E>,        // 0x03 RLC E
    RLC_r<REG_H>,        // 0x04 RLC H
    RLC_r<REG_L>,        // 0x05 RLC L
    RLC_r<REG_iHL>,      // 0x06 RLC (HL)
    RLC_r<REG_A>,        // 0x07 RLC A
    RRC_r<REG_B>,        // 0x08 RRC B
    RRC_r<REG_C>,        // 0x09 RRC C
    RRC_r<REG_D>,        // 0x0A RRC D
    RRC_r<REG_E>,        // 0x0B RRC E
    RRC_r<REG_H>,        // 0x0C RRC H
    RRC_r<REG_L>,        // 0x0D RRC L
    RRC_r<REG_iHL>,      // 0x0E RRC (HL)
    RRC_r<REG_A>,        // 0x0F RRC A
    RL_r<REG_B>,         // 0x10 RL B
    RL_r<REG_C>,         // 0x11 RL C
    RL_r<REG_D>,         // 0x12 RL D
    RL_r<REG_E>,         // 0x13 RL E
    RL_r<REG_H>,         // 0x14 RL H
    RL_r<REG_L>,         // 0x15 RL L
    RL_r<REG_iHL>,       // 0x16 RL (HL)
    RL_r<REG_A>,         // 0x17 RL A
    RR_r<REG_B>,         // 0x18 RR B
    RR_r<REG_C>,         // 0x19 RR C
    RR_r<REG_D>,         // 0x1A RR D
    RR_r<REG_E>,         // 0x1B RR E
    RR_r<REG_H>,         // 0x1C RR H
    RR_r<REG_L>,         // 0x1D RR L
    RR_r<REG_iHL>,       // 0x1E RR (HL)
    RR_r<REG_A>,         // 0x1F RR A
    SLA_r<REG_B>,        // 0x20 SLA B
    SLA_r<REG_C>,        // 0x21 SLA C
    SLA_r<REG_D>,        // 0x22 SLA D
    SLA_r<REG_E>,        // 0x23 SLA E
    SLA_r<REG_H>,        // 0x24 SLA H
    SLA_r<REG_L>,        // 0x25 SLA L
    SLA_r<REG_iHL>,      // 0x26 SLA (HL)
    SLA_r<REG_A>,        // 0x27 SLA A
    SRA_r<REG_B>,        // 0x28 SRA B
    SRA_r<REG_C>,        // 0x29 SRA C
    SRA_r<REG_D>,        // 0x2A SRA D
    SRA_r<REG_E>,        // 0x2B SRA E
    SRA_r<REG_H>,        // 0x2C SRA H
    SRA_r<REG_L>,        // 0x2D SRA L
    SRA_r<REG_iHL>,      // 0x2E SRA (HL)
    SRA_r<REG_A>,        // 0x2F SRA A
    STALL,               // 0x30 (stall)
    STALL,               // 0x31 (stall)
    STALL,               // 0x32 (stall)
    STALL,               // 0x33 (stall)
    STALL,               // 0x34 (stall)
    STALL,               // 0x35 (stall)
    STALL,               // 0x36 (stall)
    STALL,               // 0x37 (stall)
    SRL_r<REG_B>,        // 0x38 SRL B
    SRL_r<REG_C>,        // 0x39 SRL C
    SRL_r<REG_D>,        // 0x3A SRL D
    SRL_r<REG_E>,        // 0x3B SRL E
    SRL_r<REG_H>,        // 0x3C SRL H
    SRL_r<REG_L>,        // 0x3D SRL L
    SRL_r<REG_iHL>,      // 0x3E SRL (HL)
    SRL_r<REG_A>,        // 0x3F SRL A
    BIT_b_r<0, REG_B>,   // 0x40 BIT 0,B
    BIT_b_r<0, REG_C>,   // 0x41 BIT 0,C
    BIT_b_r<0, REG_D>,   // 0x42 BIT 0,D
    BIT_b_r<0, REG_E>,   // 0x43 BIT 0,E
    BIT_b_r<0, REG_H>,   // 0x44 BIT 0,H
    BIT_b_r<0, REG_L>,   // 0x45 BIT 0,L
    BIT_b_r<0, REG_iHL>, // 0x46 BIT 0,(HL)
    BIT_b_r<0, REG_A>,   // 0x47 BIT 0,A
    BIT_b_r<1, REG_B>,   // 0x48 BIT 1,B
    BIT_b_r<1, REG_C>,   // 0x49 BIT 1,C
    BIT_b_r<1, REG_D>,   // 0x4A BIT 1,D
    BIT_b_r<1, REG_E>,   // 0x4B BIT 1,E
    BIT_b_r<1, REG_H>,   // 0x4C BIT 1,H
    BIT_b_r<1, REG_L>,   // 0x4D BIT 1,L
    BIT_b_r<1, REG_iHL>, // 0x4E BIT 1,(HL)
    BIT_b_r<1, REG_A>,   // 0x4F BIT 1,A
    BIT_b_r<2, REG_B>,   // 0x50 BIT 2,B
    BIT_b_r<2, REG_C>,   // 0x51 BIT 2,C
    BIT_b_r<2, REG_D>,   // 0x52 BIT 2,D
    BIT_b_r<2, REG_E>,   // 0x53 BIT 2,E
    BIT_b_r<2, REG_H>,   // 0x54 BIT 2,H
    BIT_b_r<2, REG_L>,   // 0x55 BIT 2,L
    BIT_b_r<2, REG_iHL>, // 0x56 BIT 2,(HL)
    BIT_b_r<2, REG_A>,   // 0x57 BIT 2,A
    BIT_b_r<3, REG_B>,   // 0x58 BIT 3,B
    BIT_b_r<3, REG_C>,   // 0x59 BIT 3,C
    BIT_b_r<3, REG_D>,   // 0x5A BIT 3,D
    BIT_b_r<3, REG_E>,   // 0x5B BIT 3,E
    BIT_b_r<3, REG_H>,   // 0x5C BIT 3,H
    BIT_b_r<3, REG_L>,   // 0x5D BIT 3,L
    BIT_b_r<3, REG_iHL>, // 0x5E BIT 3,(HL)
    BIT_b_r<3, REG_A>,   // 0x5F BIT 3,A
    BIT_b_r<4, REG_B>,   // 0x60 BIT 4,B
    BIT_b_r<4, REG_C>,   // 0x61 BIT 4,C
    BIT_b_r<4, REG_D>,   // 0x62 BIT 4,D
    BIT_b_r<4, REG_E>,   // 0x63 BIT 4,E
    BIT_b_r<4, REG_H>,   // 0x64 BIT 4,H
    BIT_b_r<4, REG_L>,   // 0x65 BIT 4,L
    BIT_b_r<4, REG_iHL>, // 0x66 BIT 4,(HL)
    BIT_b_r<4, REG_A>,   // 0x67 BIT 4,A
    BIT_b_r<5, REG_B>,   // 0x68 BIT 5,B
    BIT_b_r<5, REG_C>,   // 0x69 BIT 5,C
    BIT_b_r<5, REG_D>,   // 0x6A BIT 5,D
    BIT_b_r<5, REG_E>,   // 0x6B BIT 5,E
    BIT_b_r<5, REG_H>,   // 0x6C BIT 5,H
    BIT_b_r<5, REG_L>,   // 0x6D BIT 5,L
    BIT_b_r<5, REG_iHL>, // 0x6E BIT 5,(HL)
    BIT_b_r<5, REG_A>,   // 0x6F BIT 5,A
    BIT_b_r<6, REG_B>,   // 0x70 BIT 6,B
    BIT_b_r<6, REG_C>,   // 0x71 BIT 6,C
    BIT_b_r<6, REG_D>,   // 0x72 BIT 6,D
    BIT_b_r<6, REG_E>,   // 0x73 BIT 6,E
    BIT_b_r<6, REG_H>,   // 0x74 BIT 6,H
    BIT_b_r<6, REG_L>,   // 0x75 BIT 6,L
    BIT_b_r<6, REG_iHL>, // 0x76 BIT 6,(HL)
    BIT_b_r<6, REG_A>,   // 0x77 BIT 6,A
    BIT_b_r<7, REG_B>,   // 0x78 BIT 7,B
    BIT_b_r<7, REG_C>,   // 0x79 BIT 7,C
    BIT_b_r<7, REG_D>,   // 0x7A BIT 7,D
    BIT_b_r<7, REG_E>,   // 0x7B BIT 7,E
    BIT_b_r<7, REG_H>,   // 0x7C BIT 7,H
    BIT_b_r<7, REG_L>,   // 0x7D BIT 7,L
    BIT_b_r<7, REG_iHL>, // 0x7E BIT 7,(HL)
    BIT_b_r<7, REG_A>,   // 0x7F BIT 7,A
    RES_b_r<0, REG_B>,   // 0x80 RES 0,B
    RES_b_r<0, REG_C>,   // 0x81 RES 0,C
    RES_b_r<0, REG_D>,   // 0x82 RES 0,D
    RES_b_r<0, REG_E>,   // 0x83 RES 0,E
    RES_b_r<0, REG_H>,   // 0x84 RES 0,H
    RES_b_r<0, REG_L>,   // 0x85 RES 0,L
    RES_b_r<0, REG_iHL>, // 0x86 RES 0,(HL)
    RES_b_r<0, REG_A>,   // 0x87 RES 0,A
    RES_b_r<1, REG_B>,   // 0x88 RES 1,B
    RES_b_r<1, REG_C>,   // 0x89 RES 1,C
    RES_b_r<1, REG_D>,   // 0x8A RES 1,D
    RES_b_r<1, REG_E>,   // 0x8B RES 1,E
    RES_b_r<1, REG_H>,   // 0x8C RES 1,H
    RES_b_r<1, REG_L>,   // 0x8D RES 1,L
    RES_b_r<1, REG_iHL>, // 0x8E RES 1,(HL)
    RES_b_r<1, REG_A>,   // 0x8F RES 1,A
    RES_b_r<2, REG_B>,   // 0x90 RES 2,B
    RES_b_r<2, REG_C>,   // 0x91 RES 2,C
    RES_b_r<2, REG_D>,   // 0x92 RES 2,D
    RES_b_r<2, REG_E>,   // 0x93 RES 2,E
    RES_b_r<2, REG_H>,   // 0x94 RES 2,H
    RES_b_r<2, REG_L>,   // 0x95 RES 2,L
    RES_b_r<2, REG_iHL>, // 0x96 RES 2,(HL)
    RES_b_r<2, REG_A>,   // 0x97 RES 2,A
    RES_b_r<3, REG_B>,   // 0x98 RES 3,B
    RES_b_r<3, REG_C>,   // 0x99 RES 3,C
    RES_b_r<3, REG_D>,   // 0x9A RES 3,D
    RES_b_r<3, REG_E>,   // 0x9B RES 3,E
    RES_b_r<3, REG_H>,   // 0x9C RES 3,H
    RES_b_r<3, REG_L>,   // 0x9D RES 3,L
    RES_b_r<3, REG_iHL>, // 0x9E RES 3,(HL)
    RES_b_r<3, REG_A>,   // 0x9F RES 3,A
    RES_b_r<4, REG_B>,   // 0xA0 RES 4,B
    RES_b_r<4, REG_C>,   // 0xA1 RES 4,C
    RES_b_r<4, REG_D>,   // 0xA2 RES 4,D
    RES_b_r<4, REG_E>,   // 0xA3 RES 4,E
    RES_b_r<4, REG_H>,   // 0xA4 RES 4,H
    RES_b_r<4, REG_L>,   // 0xA5 RES 4,L
    RES_b_r<4, REG_iHL>, // 0xA6 RES 4,(HL)
    RES_b_r<4, REG_A>,   // 0xA7 RES 4,A
    RES_b_r<5, REG_B>,   // 0xA8 RES 5,B
    RES_b_r<5, REG_C>,   // 0xA9 RES 5,C
    RES_b_r<5, REG_D>,   // 0xAA RES 5,D
    RES_b_r<5, REG_E>,   // 0xAB RES 5,E
    RES_b_r<5, REG_H>,   // 0xAC RES 5,H
    RES_b_r<5, REG_L>,   // 0xAD RES 5,L
    RES_b_r<5, REG_iHL>, // 0xAE RES 5,(HL)
    RES_b_r<5, REG_A>,   // 0xAF RES 5,A
    RES_b_r<6, REG_B>,   // 0xB0 RES 6,B
    RES_b_r<6, REG_C>,   // 0xB1 RES 6,C
    RES_b_r<6, REG_D>,   // 0xB2 RES 6,D
    RES_b_r<6, REG_E>,   // 0xB3 RES 6,E
    RES_b_r<6, REG_H>,   // 0xB4 RES 6,H
    RES_b_r<6, REG_L>,   // 0xB5 RES 6,L
    RES_b_r<6, REG_iHL>, // 0xB6 RES 6,(HL)
    RES_b_r<6, REG_A>,   // 0xB7 RES 6,A
    RES_b_r<7, REG_B>,   // 0xB8 RES 7,B
    RES_b_r<7, REG_C>,   // 0xB9 RES 7,C
    RES_b_r<7, REG_D>,   // 0xBA RES 7,D
    RES_b_r<7, REG_E>,   // 0xBB RES 7,E
    RES_b_r<7, REG_H>,   // 0xBC RES 7,H
    RES_b_r<7, REG_L>,   // 0xBD RES 7,L
    RES_b_r<7, REG_iHL>, // 0xBE RES 7,(HL)
    RES_b_r<7, REG_A>,   // 0xBF RES 7,A
    SET_b_r<0, REG_B>,   // 0xC0 SET 0,B
    SET_b_r<0, REG_C>,   // 0xC1 SET 0,C
    SET_b_r<0, REG_D>,   // 0xC2 SET 0,D
    SET_b_r<0, REG_E>,   // 0xC3 SET 0,E
    SET_b_r<0, REG_H>,   // 0xC4 SET 0,H
    SET_b_r<0, REG_L>,   // 0xC5 SET 0,L
    SET_b_r<0, REG_iHL>, // 0xC6 SET 0,(HL)
    SET_b_r<0, REG_A>,   // 0xC7 SET 0,A
    SET_b_r<1, REG_B>,   // 0xC8 SET 1,B
    SET_b_r<1, REG_C>,   // 0xC9 SET 1,C
    SET_b_r<1, REG_D>,   // 0xCA SET 1,D
    SET_b_r<1, REG_E>,   // 0xCB SET 1,E
    SET_b_r<1, REG_H>,   // 0xCC SET 1,H
    SET_b_r<1, REG_L>,   // 0xCD SET 1,L
    SET_b_r<1, REG_iHL>, // 0xCE SET 1,(HL)
    SET_b_r<1, REG_A>,   // 0xCF SET 1,A
    SET_b_r<2, REG_B>,   // 0xD0 SET 2,B
    SET_b_r<2, REG_C>,   // 0xD1 SET 2,C
    SET_b_r<2, REG_D>,   // 0xD2 SET 2,D
    SET_b_r<2, REG_E>,   // 0xD3 SET 2,E
    SET_b_r<2, REG_H>,   // 0xD4 SET 2,H
    SET_b_r<2, REG_L>,   // 0xD5 SET 2,L
    SET_b_r<2, REG_iHL>, // 0xD6 SET 2,(HL)
    SET_b_r<2, REG_A>,   // 0xD7 SET 2,A
    SET_b_r<3, REG_B>,   // 0xD8 SET 3,B
    SET_b_r<3, REG_C>,   // 0xD9 SET 3,C
    SET_b_r<3, REG_D>,   // 0xDA SET 3,D
    SET_b_r<3, REG_E>,   // 0xDB SET 3,E
    SET_b_r<3, REG_H>,   // 0xDC SET 3,H
    SET_b_r<3, REG_L>,   // 0xDD SET 3,L
    SET_b_r<3, REG_iHL>, // 0xDE SET 3,(HL)
    SET_b_r<3, REG_A>,   // 0xDF SET 3,A
    SET_b_r<4, REG_B>,   // 0xE0 SET 4,B
    SET_b_r<4, REG_C>,   // 0xE1 SET 4,C
    SET_b_r<4, REG_D>,   // 0xE2 SET 4,D
    SET_b_r<4, REG_E>,   // 0xE3 SET 4,E
    SET_b_r<4, REG_H>,   // 0xE4 SET 4,H
    SET_b_r<4, REG_L>,   // 0xE5 SET 4,L
    SET_b_r<4, REG_iHL>, // 0xE6 SET 4,(HL)
    SET_b_r<4, REG_A>,   // 0xE7 SET 4,A
    SET_b_r<5, REG_B>,   // 0xE8 SET 5,B
    SET_b_r<5, REG_C>,   // 0xE9 SET 5,C
    SET_b_r<5, REG_D>,   // 0xEA SET 5,D
    SET_b_r<5, REG_E>,   // 0xEB SET 5,E
    SET_b_r<5, REG_H>,   // 0xEC SET 5,H
    SET_b_r<5, REG_L>,   // 0xED SET 5,L
    SET_b_r<5, REG_iHL>, // 0xEE SET 5,(HL)
    SET_b_r<5, REG_A>,   // 0xEF SET 5,A
    SET_b_r<6, REG_B>,   // 0xF0 SET 6,B
    SET_b_r<6, REG_C>,   // 0xF1 SET 6,C
    SET_b_r<6, REG_D>,   // 0xF2 SET 6,D
    SET_b_r<6, REG_E>,   // 0xF3 SET 6,E
    SET_b_r<6, REG_H>,   // 0xF4 SET 6,H
    SET_b_r<6, REG_L>,   // 0xF5 SET 6,L
    SET_b_r<6, REG_iHL>, // 0xF6 SET 6,(HL)
    SET_b_r<6, REG_A>,   // 0xF7 SET 6,A
    SET_b_r<7, REG_B>,   // 0xF8 SET 7,B
    SET_b_r<7, REG_C>,   // 0xF9 SET 7,C
    SET_b_r<7, REG_D>,   // 0xFA SET 7,D
    SET_b_r<7, REG_E>,   // 0xFB SET 7,E
    SET_b_r<7, REG_H>,   // 0xFC SET 7,H
    SET_b_r<7, REG_L>,   // 0xFD SET 7,L
    SET_b_r<7, REG_iHL>, // 0xFE SET 7,(HL)
    SET_b_r<7, REG_A>,   // 0xFF SET 7,A
};

void ExecuteCbInstruction() { CbTable[FetchByte()](); }
