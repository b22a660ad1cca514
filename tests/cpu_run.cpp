// ProcessorRun, the deterministic driver's loop, against the single steps it stands for: from the
// same machine, the same look calls and the same events injected at them, it must leave the same
// registers, memory, counters, flags and debugger records, and end the same way after as many
// steps. And the stall count that lets every loop watch for a stuck processor for free.
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

// What happened at each look: the counts and PC it saw, and the flags a case raises there.
struct LookSeen {
    uint64_t instructions;
    uint64_t tstates;
    uint16_t pc;
    bool operator==(const LookSeen&) const = default;
};
std::vector<LookSeen> Looks;
std::vector<std::pair<size_t, uint32_t>> Inject; // at look number n, set these flags
size_t LooksWanted = SIZE_MAX;                   // the look that answers "no more looks"

bool Look() {
    const ProcessorCounts c = ReadProcessorCounts();
    Looks.push_back({c.instructions, c.tstates, CpuState.PC});
    for (const auto& [n, bits] : Inject)
        if (n == Looks.size() - 1) SetControlFlags(bits);
    return Looks.size() < LooksWanted;
}

// The debugger's side: a stop at 0x1006 (PAUSE set), every watched access recorded.
struct Access {
    uint16_t instruction, address;
    uint8_t kind, value;
    bool operator==(const Access&) const = default;
};
std::vector<Access> Accesses;
DebugVerdict StopAtMark(uint32_t) {
    if (CpuState.PC != 0x1006) return DebugVerdict::Execute;
    SetControlFlags(PAUSE);
    return DebugVerdict::Stop;
}
bool RecordAccess(uint16_t instruction, uint16_t address, uint8_t kind, uint8_t value) {
    Accesses.push_back({instruction, address, kind, value});
    return false;
}

// The single steps ProcessorRun stands for.
RunResult Stepped(long steps, long interval, bool (*look)()) {
    bool looking = true;
    for (long i = 0; i < steps; ++i) {
        if (looking && i % interval == 0) looking = look();
        const uint32_t flags = ReadControlFlags();
        if ((flags & HALTED) && !(flags & (TICK | RESET | QUIT))) return {RunEnd::Halted, i};
        if ((flags & PAUSE) && !(flags & (RESET | QUIT))) return {RunEnd::Paused, i};
        if (!ProcessorStep()) return {RunEnd::Quit, i};
        if (ProcessorWaitingForTick()) return {RunEnd::PeriodSpent, i + 1};
    }
    return {RunEnd::Budget, steps};
}

// A loop at 0x1000 with EI, IM 1, memory writes, a block move, an indexed access, a CALL and an
// I/O read; the NMI and mode 1 handlers count in memory and return.
void LoadProgram() {
    ResetMachineForTest();
    RestoreProcessorTiming({});
    PcHistoryCount = 0;
    CpuState.SP = 0xF000;
    LoadCode(0x0066, {0x21, 0x00, 0x90, 0x34, 0xED, 0x45}); // LD HL,9000h; INC (HL); RETN
    LoadCode(0x0038, {0x21, 0x01, 0x90, 0x34, 0xFB, 0xC9}); // LD HL,9001h; INC (HL); EI; RET
    LoadCode(0x2000, {0x3C, 0xC9});                         // INC A; RET
    LoadCode(0x1000, {
                         0xED, 0x56,             // 1000 IM 1
                         0xFB,                   // 1002 EI
                         0x21, 0x00, 0x80,       // 1003 LD HL,8000h
                         0x34,                   // 1006 INC (HL)
                         0x11, 0x00, 0xA0,       // 1007 LD DE,A000h
                         0x01, 0x10, 0x00,       // 100A LD BC,16
                         0xED, 0xB0,             // 100D LDIR
                         0xDD, 0x21, 0x00, 0x80, // 100F LD IX,8000h
                         0xDD, 0x7E, 0x00,       // 1013 LD A,(IX+0)
                         0xCD, 0x00, 0x20,       // 1016 CALL 2000h
                         0xDB, 0x38,             // 1019 IN A,(38h)
                         0xC3, 0x03, 0x10,       // 101B JP 1003h
                     });
}

struct RunCase {
    const char* name;
    long steps;
    int32_t waitstates;
    std::vector<std::pair<size_t, uint32_t>> inject;
    void (*extra)(); // more set-up, or null
};

struct Outcome {
    RunResult result;
    CpuRegisters cpu;
    std::vector<uint8_t> memory;
    ProcessorTiming timing;
    uint32_t flags;
    std::vector<LookSeen> looks;
    std::vector<Access> accesses;
    std::vector<uint16_t> history;
};

Outcome RunCaseOnce(const RunCase& c, bool stepped) {
    LoadProgram();
    SetWaitstates(c.waitstates);
    Inject = c.inject;
    Looks.clear();
    Accesses.clear();
    LooksWanted = SIZE_MAX;
    if (c.extra) c.extra();
    Outcome o;
    o.result = stepped ? Stepped(c.steps, 64, Look) : ProcessorRun(c.steps, 64, Look);
    o.cpu = CpuState;
    o.memory.assign(MachineMemory, MachineMemory + MemorySize);
    o.timing = ReadProcessorTiming();
    o.flags = ReadControlFlags();
    o.looks = Looks;
    o.accesses = Accesses;
    o.history.assign(PcHistoryRing, PcHistoryRing + PcHistoryRingSize);
    o.history.push_back(uint16_t(PcHistoryCount));
    // Leave no debugger behind for the next case or test.
    SetDebugHook(nullptr);
    SetAccessHook(nullptr);
    DebugChecked = false;
    std::memset(DebugLooks, 0, sizeof DebugLooks);
    std::memset(WatchedAddresses, 0, sizeof WatchedAddresses);
    return o;
}

TEST(ProcessorRun, LeavesTheMachineAsTheSingleStepsDo) {
    const RunCase cases[] = {
        {"plain, whole budget", 5000, 0, {}, nullptr},
        {"odd budget", 777, 0, {}, nullptr},
        {"ticks and keys at looks",
         3000,
         0,
         {{2, TICK}, {5, KEY}, {9, TICK | KEY}, {30, TICK}},
         nullptr},
        {"halt waits for the tick",
         3000,
         0,
         {},
         [] { LoadCode(0x1006, {0x76}); }}, // HALT in place of INC (HL)
        {"halted, then a tick", 3000, 0, {{0, TICK}}, [] { LoadCode(0x1006, {0x76}); }},
        {"real speed spends its budget", 100000, RealSpeedWaitstates, {}, nullptr},
        {"real speed with ticks", 100000, RealSpeedWaitstates, {{3, TICK}}, nullptr},
        {"pacing wait", 2000, 3, {{4, KEY}}, nullptr},
        {"quit at a look", 3000, 0, {{7, QUIT}}, nullptr},
        {"reset at a look", 3000, 0, {{3, RESET}}, nullptr},
        {"pause at a look", 3000, 0, {{6, PAUSE}}, nullptr},
        {"stall",
         2000,
         0,
         {{10, TICK}},
         [] {
             LoadCode(0x1006, {0xED, 0x00});
         }},
        {"debugger attached, nothing marked", 3000, 0, {{4, TICK}}, [] { SetControlFlags(DEBUG); }},
        {"debugger stops at a mark",
         3000,
         0,
         {},
         [] {
             SetDebugHook(StopAtMark);
             DebugLooks[0x1006] = 1;
             SetControlFlags(DEBUG);
         }},
        {"debugger watches memory",
         3000,
         0,
         {{5, TICK}},
         [] {
             SetAccessHook(RecordAccess);
             DebugChecked = true;
             WatchedAddresses[0x8000] = AccessRead | AccessWrite;
             WatchedAddresses[0x9000] = AccessWrite;
             SetControlFlags(DEBUG);
         }},
        {"looks end after the fourth", 3000, 0, {{2, TICK}}, [] { LooksWanted = 4; }},
        {"looks end in a halt",
         3000,
         0,
         {},
         [] {
             LooksWanted = 2;
             LoadCode(0x1006, {0x76});
         }},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome want = RunCaseOnce(c, true);
        const Outcome got = RunCaseOnce(c, false);
        EXPECT_EQ(got.result.end, want.result.end);
        EXPECT_EQ(got.result.steps, want.result.steps);
        EXPECT_EQ(std::memcmp(&got.cpu, &want.cpu, sizeof got.cpu), 0)
            << "PC " << got.cpu.PC << " want " << want.cpu.PC;
        EXPECT_TRUE(got.memory == want.memory);
        EXPECT_EQ(got.timing.instructions, want.timing.instructions);
        EXPECT_EQ(got.timing.tstates, want.timing.tstates);
        EXPECT_EQ(got.timing.ticks, want.timing.ticks);
        EXPECT_EQ(got.timing.tick_start, want.timing.tick_start);
        EXPECT_EQ(got.timing.last_service, want.timing.last_service);
        EXPECT_EQ(got.timing.waiting_for_tick, want.timing.waiting_for_tick);
        EXPECT_EQ(got.flags, want.flags);
        EXPECT_TRUE(got.looks == want.looks)
            << got.looks.size() << " looks, want " << want.looks.size();
        EXPECT_TRUE(got.accesses == want.accesses);
        EXPECT_TRUE(got.history == want.history);
    }
    // The cases reach what they are named for.
    const Outcome halted = RunCaseOnce(cases[3], false);
    EXPECT_EQ(halted.result.end, RunEnd::Halted);
    EXPECT_EQ(RunCaseOnce(cases[5], false).result.end, RunEnd::PeriodSpent);
    EXPECT_EQ(RunCaseOnce(cases[8], false).result.end, RunEnd::Quit);
    EXPECT_EQ(RunCaseOnce(cases[13], false).result.end, RunEnd::Paused);
    EXPECT_FALSE(RunCaseOnce(cases[14], false).accesses.empty());
    EXPECT_EQ(RunCaseOnce(cases[15], false).looks.size(), 4u);
}

// A run to a T-state count that an interrupt entry reaches ends right there, before the handler's
// first instruction (where a debugger's stop after the entry left a recorded session's events).
TEST(ProcessorRunTo, EndsWhereAnInterruptEntryReachesTheCount) {
    const struct {
        const char* name;
        uint32_t flag;
        uint32_t entry_tstates;
        uint16_t handler;
    } cases[] = {
        {"the tick's NMI", TICK, NmiTstates, NmiAddress},
        {"a key's interrupt in mode 1", KEY, Mode1Tstates, Mode1Address},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetMachineForTest();
        RestoreProcessorTiming({});
        CpuState.SP = 0xF000;
        CpuState.IFF1 = CpuState.IFF2 = 1;
        CpuState.IM = 1;
        LoadCode(0x1000, {0x00, 0x18, 0xFD}); // NOP; JR back
        CpuState.PC = 0x1000;
        ASSERT_EQ(ProcessorRunTo(8, LONG_MAX).end, RunEnd::Reached); // NOP, then JR: 16 T-states
        const ProcessorCounts before = ReadProcessorCounts();
        SetControlFlags(c.flag);
        const RunResult r = ProcessorRunTo(before.tstates + c.entry_tstates, LONG_MAX);
        const ProcessorCounts after = ReadProcessorCounts();
        EXPECT_EQ(r.end, RunEnd::Reached);
        EXPECT_EQ(after.tstates, before.tstates + c.entry_tstates);
        EXPECT_EQ(after.instructions, before.instructions);
        EXPECT_EQ(CpuState.PC, c.handler);
        ClearControlFlags(TICK | KEY);
    }
}

// A stall is counted where it happens: the thread's own loop, at full speed and taking its ticks,
// reports the address.
TEST(ProcessorRun, StallsAreReportedFromTheFastLoop) {
    ResetMachineForTest();
    ProcessorReset(); // forgets any stall seen before
    RestoreProcessorTiming({});
    CpuState.SP = 0xF000;
    uint16_t pc = 0;
    EXPECT_FALSE(ProcessorStalled(pc));
    LoadCode(0x0066, {0xED, 0x45}); // RETN
    LoadCode(0x3000, {0xED, 0x77});
    std::thread processor([] { ProcessorThreadBody(); });
    bool stalled = false;
    for (int i = 0; i < 20000 && !(stalled = ProcessorStalled(pc)); ++i) {
        SetControlFlags(TICK);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    SetControlFlags(QUIT);
    processor.join();
    ASSERT_TRUE(stalled);
    EXPECT_EQ(pc, 0x3000);
}

} // namespace
