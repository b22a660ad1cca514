// The Z80 register file. Each pair is one 16-bit word whose high byte is the first-named register
// (A, B, D, H) and whose low byte the second (F, C, E, L); the word and its bytes share storage,
// so CpuState.HL and CpuState.H / CpuState.L see each other's writes at once (little-endian host).
// Not modelled: the refresh register R, the halt state (HALTED in ControlFlags). T-states are
// counted by the loop (cpu/processor.h), not here.
#pragma once

#include <bit>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "register pairs assume a little-endian host");

#define LB_PAIR(hi, lo)                                                                            \
    union {                                                                                        \
        uint16_t hi##lo;                                                                           \
        struct {                                                                                   \
            uint8_t lo, hi;                                                                        \
        };                                                                                         \
    }

struct CpuRegisters {
    LB_PAIR(A, F); // accumulator and flags
    LB_PAIR(B, C);
    LB_PAIR(D, E);
    LB_PAIR(H, L);
    uint16_t IX; // index registers
    uint16_t IY;
    uint16_t SP;  // stack pointer
    uint16_t PC;  // address of the next byte to fetch
    uint16_t AF_; // alternate set, reached only by EX AF,AF' and EXX
    uint16_t BC_;
    uint16_t DE_;
    uint16_t HL_;
    uint8_t I;    // interrupt page: high byte of the mode 2 vector address
    uint8_t IFF1; // 1 when maskable interrupts are accepted
    uint8_t IFF2; // copy of IFF1 saved by the NMI entry, restored by RETN
    uint8_t IM;   // interrupt mode 0, 1 or 2
};
#undef LB_PAIR

extern CpuRegisters CpuState;

// Flag bits of F.
constexpr uint8_t FLAG_S = 0x80;  // sign
constexpr uint8_t FLAG_Z = 0x40;  // zero
constexpr uint8_t FLAG_Y = 0x20;  // undocumented bit 5: never computed, only loaded with F
constexpr uint8_t FLAG_H = 0x10;  // half carry
constexpr uint8_t FLAG_X = 0x08;  // undocumented bit 3: never computed, only loaded with F
constexpr uint8_t FLAG_PV = 0x04; // parity / overflow
constexpr uint8_t FLAG_N = 0x02;  // subtract
constexpr uint8_t FLAG_C = 0x01;  // carry
