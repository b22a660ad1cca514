// Helpers for the tests of the DD/FD and ED tables: one prefixed instruction through the first-byte
// dispatch and a whole-machine snapshot for the stall checks.
#pragma once

#include "cpu/cpu_state.h"
#include "cpu_main_support.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Runs the DD, FD or ED instruction at PC through the processor's first-byte dispatch.
inline void ExecutePrefixed() {
    uint8_t prefix = ReadByte(CpuState.PC);
    if (prefix != 0xDD && prefix != 0xFD && prefix != 0xED) {
        ADD_FAILURE() << "no DD, FD or ED prefix at PC";
        return;
    }
    ExecuteInstruction();
}

// Every register as text, so that a mismatch shows which one differs.
inline std::string RegisterDump(const CpuRegisters& s) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "AF=%04X BC=%04X DE=%04X HL=%04X IX=%04X IY=%04X SP=%04X PC=%04X AF'=%04X "
                  "BC'=%04X DE'=%04X HL'=%04X I=%02X IFF1=%u IFF2=%u IM=%u",
                  s.AF, s.BC, s.DE, s.HL, s.IX, s.IY, s.SP, s.PC, s.AF_, s.BC_, s.DE_, s.HL_, s.I,
                  s.IFF1, s.IFF2, s.IM);
    return text;
}

// Registers, memory and both port tables.
struct MachineSnapshot {
    CpuRegisters registers = CpuState;
    std::vector<uint8_t> memory{MachineMemory, MachineMemory + MemorySize};
    std::vector<uint8_t> in_ports{InPorts, InPorts + 256};
    std::vector<uint8_t> out_ports{OutPorts, OutPorts + 256};
};

// Checks that nothing differs from the snapshot except that PC holds pc.
inline void ExpectOnlyPcChanged(const MachineSnapshot& before, uint16_t pc) {
    CpuRegisters expected = before.registers;
    expected.PC = pc;
    EXPECT_EQ(RegisterDump(CpuState), RegisterDump(expected));
    EXPECT_EQ(std::memcmp(before.memory.data(), MachineMemory, MemorySize), 0) << "memory changed";
    EXPECT_EQ(std::memcmp(before.in_ports.data(), InPorts, 256), 0) << "InPorts changed";
    EXPECT_EQ(std::memcmp(before.out_ports.data(), OutPorts, 256), 0) << "OutPorts changed";
}

// Stores bytes at address, wrapping at 0xFFFF.
inline void Poke(uint16_t address, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes)
        MachineMemory[address++] = b;
}
