// Memory and stack access of the instruction tables and the interrupt entries: operand fetch from
// the instruction stream, push and pop, and the interrupt enable.
#pragma once

#include "cpu/bus.h"
#include "cpu/cpu_state.h"
#include "cpu/table.h"

#include <cstdint>

// Operand fetch at pc, the loop's own copy of PC, which steps past what it reads.
LB_INLINE uint8_t FetchByte(uint16_t& pc) { return ReadByte(pc++); }
LB_INLINE uint16_t FetchWord(uint16_t& pc) {
    uint16_t w = ReadWord(pc);
    pc = uint16_t(pc + 2);
    return w;
}
LB_INLINE int8_t FetchDisplacement(uint16_t& pc) { return int8_t(FetchByte(pc)); }

LB_INLINE void Push(uint16_t w) {
    CpuState.SP = uint16_t(CpuState.SP - 2);
    WriteWord(CpuState.SP, w);
}
LB_INLINE uint16_t Pop() {
    uint16_t w = ReadWord(CpuState.SP);
    CpuState.SP = uint16_t(CpuState.SP + 2);
    return w;
}

LB_INLINE void DisableInterrupts() { CpuState.IFF1 = CpuState.IFF2 = 0; }
// Takes effect before the next instruction: there is no one-instruction delay.
LB_INLINE void EnableInterrupts() { CpuState.IFF1 = CpuState.IFF2 = 1; }
