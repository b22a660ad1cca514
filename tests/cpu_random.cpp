// Random memory and registers: every byte pattern is an instruction or a stall, and the core stays
// defined (the sanitizer builds run this too).
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

bool IsPrefix(uint8_t b) { return b == 0xCB || b == 0xDD || b == 0xED || b == 0xFD; }

// Runs count instructions from random state; every 10,000 the registers and memory are drawn
// anew. Returns a digest of the final state. Checks on the way that a step which leaves PC on a
// prefix byte it started at (a stall) changed no register.
uint64_t RunRandom(uint32_t seed, int count, int& stalls) {
    std::mt19937 rng(seed);
    SetRefreshSeed(seed); // LD A,R draws from the core's own generator
    stalls = 0;
    for (int i = 0; i < count; ++i) {
        if (i % 10000 == 0) {
            for (auto& b : MachineMemory)
                b = uint8_t(rng());
            uint16_t* words[] = {&CpuState.AF,  &CpuState.BC,  &CpuState.DE,  &CpuState.HL,
                                 &CpuState.IX,  &CpuState.IY,  &CpuState.SP,  &CpuState.PC,
                                 &CpuState.AF_, &CpuState.BC_, &CpuState.DE_, &CpuState.HL_};
            for (auto* w : words)
                *w = uint16_t(rng());
            CpuState.I = uint8_t(rng());
            CpuState.IM = uint8_t(rng() % 3);
        }
        ControlFlags.store(0);
        CpuRegisters before = CpuState;
        uint8_t first = MachineMemory[before.PC];
        ExecuteInstruction();
        if (CpuState.PC == before.PC && IsPrefix(first)) {
            before.PC = CpuState.PC;
            EXPECT_EQ(std::memcmp(&before, &CpuState, sizeof before), 0)
                << "a step that stays on its prefix changed a register; opcode " << int(first)
                << " " << int(MachineMemory[uint16_t(before.PC + 1)]);
            ++stalls;
        }
    }
    uint64_t digest = 1469598103934665603ull;
    auto mix = [&](const void* p, size_t n) {
        for (size_t k = 0; k < n; ++k)
            digest = (digest ^ static_cast<const uint8_t*>(p)[k]) * 1099511628211ull;
    };
    mix(&CpuState, sizeof CpuState);
    mix(MachineMemory, MemorySize);
    return digest;
}

TEST(RandomProgram, AMillionInstructionsRunDefinedAndReproducibly) {
    ScratchFolder folder; // OUT 255 may open files: keep them inside a scratch folder
    ResetMachineForTest();
    SetFilesFolder("");
    int stalls1 = 0, stalls2 = 0;
    uint64_t first = RunRandom(20261207, 1000000, stalls1);
    uint64_t second = RunRandom(20261207, 1000000, stalls2);
    EXPECT_EQ(first, second) << "the same program from the same state must end the same";
    EXPECT_EQ(stalls1, stalls2);
    EXPECT_GT(stalls1, 0) << "random code meets stalling prefixed forms";
    SetFilesFolder(DefaultFilesFolder);
}

} // namespace
