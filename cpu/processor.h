// The execution loop. Each processor step: the pacing wait, the poll of ControlFlags (QUIT, RESET,
// PAUSE, TICK -> NMI to 0x0066, HALTED, KEY -> maskable interrupt), then the fetch and execution of
// one whole instruction.
//
// The processor sees the machine only through the bus (cpu/bus.h): memory, the two port
// operations, ControlFlags with InterruptBusByte, and the pace. It owns CpuState and the counters
// below; nothing else of it is shared. ProcessorThreadBody is the processor on a thread of its own:
// other threads reach it only by setting ControlFlags bits (SetControlFlags, which also wakes it
// when it waits) and reading the counters. ProcessorStep and ExecuteInstruction run it on the
// caller's thread instead, one step or one instruction at a time, and ProcessorRun a budget of
// steps in the loop's registers; they never block.
//
// Speed, read afresh at every step from Pace() (the settings' waitstates unless overridden):
//   n >= 0  n idle iterations before each instruction (0 = as fast as the host allows); a halted
//           processor spins until the next TICK.
//   -1      a real pace (RealSpeedWaitstates): at most PaceBudget() T-states of instructions per
//           tick (TstatesPerTick for a real ABC80), then the processor waits for the next TICK; a
//           halted one waits the same way. ProcessorThreadBody blocks while it waits (an idle
//           machine costs almost no host time) and SetControlFlags wakes it; ProcessorStep never
//           blocks (see ProcessorWaitingForTick). The few T-states by which the last instruction
//           of a period overruns the budget are taken from the next period, so the average is
//           exactly the budget.
//   other negative values count as 0.
// PAUSE stops all of it in every mode (see ProcessorThreadBody). QUIT and RESET are seen within
// milliseconds in every mode, paused or not.
#pragma once

#include "cpu/bus.h"
#include "cpu/cpu_state.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr uint16_t ResetAddress = 0x0000;
constexpr uint16_t NmiAddress = 0x0066;
constexpr uint16_t Mode1Address = 0x0038;

constexpr int32_t RealSpeedWaitstates = -1;
constexpr uint64_t TstatesPerTick = RealAbc80TstatesPerTick; // 3 MHz / 50 Hz

// T-states of the interrupt entries: NMI, mode 1, mode 2 (a dropped mode 0 request costs none).
constexpr uint32_t NmiTstates = 11;
constexpr uint32_t Mode1Tstates = 13;
constexpr uint32_t Mode2Tstates = 19;

// PC, I, IFF1, IFF2, IM = 0; no stall reported; ControlFlags cleared except QUIT (a QUIT set
// meanwhile is never lost), PAUSE (a reset while paused stays paused) and DEBUG; the LD A,R
// generator seeded (see SetRefreshSeed). Counters are not reset.
void ProcessorReset();
// Every TICK: IFF2 = IFF1, IFF1 = 0, push PC, PC = 0x0066.
void NmiEntry();
// KEY with IFF1 = 1, by IM: 0 nothing; 1 push PC, jump 0x0038; 2 push PC, jump through the word at
// I * 256 | 2 * InterruptBusByte. Modes 1 and 2 clear IFF1 and IFF2. Returns its T-states.
uint32_t InterruptAcceptance();

// Fetch the opcode at PC and execute that one whole instruction; returns its T-states (every
// repetition of a repeating block instruction included) and adds it to the counters.
uint32_t ExecuteInstruction();

// One processor step: pacing wait, poll, one instruction. Returns false when QUIT was seen (no
// instruction executed then), true otherwise. Never blocks: while PAUSE is set it returns true
// without executing anything (a RESET is still carried out) and ProcessorPaused() says so; at real
// speed, when the tick's budget is spent or the processor is halted, it returns true without
// executing anything and ProcessorWaitingForTick() says so.
bool ProcessorStep();

// True after a ProcessorStep at real speed that executed nothing because the processor waits for
// the next TICK (budget spent or HALTED); false again once a step has run. A deterministic driver
// ends its tick period early when it sees this, as it does for HALTED.
bool ProcessorWaitingForTick();

// True after a step that executed nothing because PAUSE is set, and while ProcessorThreadBody
// waits for PAUSE to clear; false again once a step gets past the poll.
bool ProcessorPaused();
// How many times ProcessorThreadBody has found PAUSE set and gone to sleep: once when it stops,
// then once more each time a change of ControlFlags wakes it while PAUSE stays set. Counted before
// ProcessorPaused() first says so; only grows. A test that must see a paused thread stay still
// waits for it to grow after the change, then looks.
uint64_t ProcessorPausedLooks();

// Called on the ProcessorThread once per tick period when, at real speed, it has spent the
// period's budget or halted and is about to wait for the next TICK: the machine has had all the
// time it gets until then. Set before the thread starts; null for none.
void SetPeriodEndHook(void (*hook)());

// Called on the ProcessorThread every 1,024 instructions, after its counts are published (so the
// key pacer can follow the machine's own time closely at full speed). Cheap when it returns at
// once. Set before the thread starts; null for none.
void SetPeriodicHook(void (*hook)());

// Runs up to `steps` processor steps on the caller's thread exactly as as many ProcessorStep calls
// would, but with PC and the counters in the loop's registers; look() is called before step 0,
// look_interval, 2 * look_interval, ... (the key pacer's look), with the counts published, until
// a look answers false: nothing more to look for in this run, so the loop runs on unbroken. It ends
// early, before the step, when the processor is halted with no TICK, RESET or QUIT pending
// (Halted) or PAUSE is set with neither of those (Paused); after a step that found the real-speed
// budget spent (PeriodSpent, see ProcessorWaitingForTick); or when QUIT was seen (Quit). Never
// blocks. steps counts the steps taken (a debugger's stop is one that executed nothing).
enum class RunEnd : uint8_t { Budget, Halted, Paused, PeriodSpent, Quit, Reached };
struct RunResult {
    RunEnd end;
    long steps;
};
RunResult ProcessorRun(long steps, long look_interval, bool (*look)());
// The same without looks, ending also (Reached) at the first instruction boundary where the
// T-state count has reached `tstates`, before that step's poll or after an interrupt entry the
// poll made: where a recorded event happened.
RunResult ProcessorRunTo(uint64_t tstates, long steps);

// Called on the processor's thread when its poll takes a TICK (the NMI) or a RESET, with the
// T-state count at that moment (a recorded session notes them). Set while the processor does not
// run; null for none. Every event of one poll happens at one T-state count.
constexpr uint32_t MachineEventTick = 1;
constexpr uint32_t MachineEventReset = 2;
void SetMachineEventHook(void (*hook)(uint32_t event, uint64_t tstates));

// An opcode the processor does not execute leaves PC on its prefix, so the same stall comes round
// again and again (interrupts still taken). The table entries that stall count them: after
// StallRepeats stalls in a row at one address, with no stall elsewhere between, the processor is
// taken as stuck and ProcessorStalled says where (until the next ProcessorReset).
constexpr uint32_t StallRepeats = 1000;
bool ProcessorStalled(uint16_t& pc);

// Idle iterations of the pacing wait per second on this computer (measured once, a few ms).
double PacingIterationsPerSecond();

// The ProcessorThread: steps until QUIT, then returns 16. The argument is ignored. While PAUSE is
// set it executes nothing, takes no TICK or KEY, and blocks (costing no host time) until PAUSE
// clears or RESET or QUIT arrives; a RESET is carried out and the thread stays paused.
int ProcessorThreadBody(void* argument = nullptr);

// What the processor has done since the program started, for a speed display: executed
// instructions (a stalled step counts as one, a repeating block instruction as one) and their
// T-states (interrupt entries included), and the TICKs taken (NMI entries). All only grow.
// ProcessorThreadBody publishes the first two at every TICK it takes and when it ends;
// ProcessorStep and ExecuteInstruction after every instruction; ticks are counted as they are
// taken. Any thread may read them; take differences over time for a rate. Ticks measure the
// machine's own time: a processor thread that gets no host time takes none.
struct ProcessorCounts {
    uint64_t instructions;
    uint64_t tstates;
    uint64_t ticks;
};
ProcessorCounts ReadProcessorCounts();

// LD A,R: there is no refresh register; A gets a value 0-127 from a small pseudo-random generator.
// By default every ProcessorReset seeds it with the time in seconds. After SetRefreshSeed(n) it is
// seeded with n at once and at every reset, so a run is repeatable; UseTimeRefreshSeed() returns
// to the default. Call either before the ProcessorThread starts (or while it is stopped).
void SetRefreshSeed(uint32_t seed);
void UseTimeRefreshSeed();
// What a reset seeds the generator with: true and the seed when fixed, false for the time. And
// setting that alone, leaving the generator's state as it is.
bool ReadRefreshSeed(uint32_t& seed);
void SetResetRefreshSeed(bool fixed, uint32_t seed);
// The next value of the generator (used by LD A,R).
uint8_t NextRefreshValue();

// Everything of the processor's timing that a saved machine needs besides CpuState: the counters,
// where the current tick period began and whether it runs at real speed, and the LD A,R
// generator. Read and restored only while the processor executes nothing (paused, or between a
// deterministic driver's steps); the ProcessorThread takes restored counters when it resumes.
struct ProcessorTiming {
    uint64_t instructions;  // as ReadProcessorCounts
    uint64_t tstates;       //
    uint64_t ticks;         //
    uint64_t tick_start;    // T-state count at which the current tick period began
    uint64_t last_service;  // T-state count at the last look at the flags and the pace
    bool real_speed_period; // that period runs at a real ABC80's speed
    bool waiting_for_tick;  // ProcessorWaitingForTick
    uint32_t refresh_state; // the LD A,R generator's state
};
ProcessorTiming ReadProcessorTiming();
void RestoreProcessorTiming(const ProcessorTiming& timing);

// ---- Debugger support (system/debugger.h drives it) ----
//
// While DEBUG is set in ControlFlags every step takes the debug path. Most instructions never
// reach the debugger: at full speed with no other ControlFlags bit set, an instruction at an
// address not marked in DebugLooks while DebugAttention is zero is recorded in PcHistoryRing and
// executed by the loop itself (through the checked tables while DebugChecked is set). Every other
// one goes to the debug hook, on the processor's thread, after the poll (with any NMI or interrupt
// it took) and before the instruction at CpuState.PC. Its verdict: execute the instruction as
// usual, execute it through the checked tables (every watched data access of memory and ports
// reported to the access hook), or stop: execute nothing (the hook has set PAUSE, which the next
// step obeys). With DEBUG clear neither hook is ever called and the loop is exactly the plain one.
enum class DebugVerdict : uint8_t { Execute, ExecuteChecked, Stop };
// Bits of the hook's argument: what the poll of this step did before the instruction.
constexpr uint32_t DebugTookNmi = 0x01;
constexpr uint32_t DebugTookInterrupt = 0x02;
using DebugHook = DebugVerdict (*)(uint32_t events);
// Set while the processor does not run (before the thread starts, or while it is paused).
void SetDebugHook(DebugHook hook);

// What the loop reads for its own look. DebugLooks and DebugChecked change only while the
// processor stands still; DebugAttention (non-zero: the hook sees every instruction) may be set
// from any thread at any time and is seen at the next instruction.
extern uint8_t DebugLooks[0x10000];
extern std::atomic<uint32_t> DebugAttention;
extern bool DebugChecked;
// The last PCs of instructions executed while DEBUG was set: entry n % PcHistoryRingSize is the
// n-th, PcHistoryCount counts them. Written by the processor's thread (the loop, or the hook for an
// instruction it lets run); read while the processor stands still.
constexpr size_t PcHistoryRingSize = 256;
extern uint16_t PcHistoryRing[PcHistoryRingSize];
extern uint64_t PcHistoryCount;
inline void RecordDebugPc(uint16_t pc) {
    PcHistoryRing[PcHistoryCount++ & (PcHistoryRingSize - 1)] = pc;
}

// Kinds of data access the checked tables watch; address is the port for AccessIn/Out. Operand
// fetches from the instruction stream are reads too (the opcode byte is not).
constexpr uint8_t AccessRead = 0x01;
constexpr uint8_t AccessWrite = 0x02;
constexpr uint8_t AccessIn = 0x04;
constexpr uint8_t AccessOut = 0x08;
// Which kinds of access to each address and port the access hook hears of (the debugger fills
// them while the processor stands still); every other access passes unreported. The hook hears of
// an instruction's accesses in order once it is done (of a block instruction's, the first 16),
// with the address of the instruction, until it answers true (it stopped the machine).
extern uint8_t WatchedAddresses[0x10000];
extern uint8_t WatchedPorts[256];
using AccessHook = bool (*)(uint16_t instruction, uint16_t address, uint8_t kind, uint8_t value);
void SetAccessHook(AccessHook hook);
// One instruction at pc through the checked tables (cpu/checked_execute.cpp): the PC after it and
// its T-states (returned, so the loop's own pc and counters stay in registers). CpuState.PC is the
// instruction's address while the access hook runs.
struct CheckedStep {
    uint16_t pc;
    uint32_t tstates;
};
CheckedStep ExecuteChecked(uint16_t pc);
