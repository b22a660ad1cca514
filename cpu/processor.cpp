#include "cpu/processor.h"

#include "cpu/access.h"
#include "cpu/bus.h"
#include "cpu/main_table.h"

#include <algorithm>
#include <chrono>
#include <ctime>

CpuRegisters CpuState;

uint8_t DebugLooks[MemorySize];
std::atomic<uint32_t> DebugAttention{0};
bool DebugChecked = false;
uint16_t PcHistoryRing[PcHistoryRingSize];
uint64_t PcHistoryCount = 0;

// The two loops' heads (the look at the pace and the flags, the opcode fetch, the jump through the
// switch's table) run once an instruction: each starts a 64-byte line, so that this code never
// straddles two. Where it did depended on where the linker put the function, and on this host cost
// a binary a third of its speed against another with the same code.
#if defined(__GNUC__) && !defined(__clang__)
#define LB_HOT_LOOP [[gnu::optimize("align-loops=64")]]
#else
#define LB_HOT_LOOP
#endif
// The thread's loop dispatches through a table of label addresses where the compiler has them
// (not in WebAssembly, which has no indirect jump). Its 256 copies of the step's common case must
// stay copies: the compiler is told not to merge identical tails.
#if defined(__GNUC__) && !defined(__EMSCRIPTEN__)
#define LB_THREADED_DISPATCH 1
#else
#define LB_THREADED_DISPATCH 0
#endif
#if LB_THREADED_DISPATCH && !defined(__clang__)
#define LB_THREADED_LOOP                                                                           \
    [[gnu::optimize("align-loops=64", "no-crossjumping", "no-tree-tail-merge")]]
#else
#define LB_THREADED_LOOP LB_HOT_LOOP
#endif

namespace {

// The HALTED spin runs flat out; on x86 a pause instruction keeps it kind to a sibling hyperthread.
inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// How many idle iterations pass between looks at QUIT and RESET during a long pacing wait.
constexpr int32_t PacingPollInterval = 4096;

// Counts n down in a volatile counter, so the wait is neither removed nor shortened. A huge n must
// not freeze the program, so QUIT, RESET and PAUSE end the wait early.
[[gnu::noinline]] void PacingWait(int32_t n) {
    volatile int32_t counter = n;
    while (counter > 0) {
        counter = counter - 1;
        if ((counter & (PacingPollInterval - 1)) == 0 &&
            (ReadControlFlags() & (QUIT | RESET | PAUSE)))
            return;
    }
}

} // namespace

double PacingIterationsPerSecond() {
    static const double per_second = [] {
        constexpr int32_t Iterations = 1 << 20;
        double best = 0;
        for (int round = 0; round < 3; ++round) {
            const auto start = std::chrono::steady_clock::now();
            PacingWait(Iterations);
            const double seconds = std::max(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                1e-9);
            best = std::max(best, Iterations / seconds);
        }
        return best;
    }();
    return per_second;
}

namespace {

// The thread's loop publishes its counts every PublishInterval + 1 instructions.
constexpr uint64_t PublishInterval = 1023;

std::atomic<uint64_t> PublishedInstructions{0};
std::atomic<uint64_t> PublishedTstates{0};
std::atomic<uint64_t> TicksTaken{0}; // written only by the thread that runs the processor

// Processor thread only: the T-state count at which the current tick period began, whether that
// period runs at real speed, and its budget.
uint64_t TickStart = 0;
bool RealSpeedPeriod = false;
uint64_t PeriodBudget = TstatesPerTick;
// The T-state count at the last look at the flags and the pace (kept with a saved machine), and
// the pace changes seen by then: another change means a fresh period at the new pace.
uint64_t LastServiceTstates = 0;
uint32_t PaceChangesSeen = 0;
std::atomic<bool> WaitingForTick{false};
void (*PeriodEndHook)() = nullptr;
void (*PeriodicHook)() = nullptr;
void (*MachineEventHook)(uint32_t, uint64_t) = nullptr;
// Never null: DEBUG may be set before a debugger sets its own.
DebugVerdict NoDebugger(uint32_t) { return DebugVerdict::Execute; }
DebugHook DebugHookFn = NoDebugger;
std::atomic<bool> Paused{false};
// How often the thread found PAUSE set and went to sleep (counted before Paused says so).
std::atomic<uint64_t> PausedLooks{0};

uint32_t RefreshState = 1;
uint32_t RefreshSeed = 0;
bool RefreshSeedFixed = false;

// The loop's own copies of PC and the counters, handed to the out-of-line part of a step.
struct LoopState {
    uint16_t pc;
    uint64_t instructions;
    uint64_t tstates;
};

void Publish(const LoopState& s) {
    PublishedInstructions.store(s.instructions, std::memory_order_relaxed);
    PublishedTstates.store(s.tstates, std::memory_order_relaxed);
}

// Counts the instruction about to run; the thread's loop publishes fresh counts now and then and
// gives the key pacer, which measures in T-states, a look.
template <bool thread_loop>
LB_INLINE void CountInstruction(uint16_t, uint64_t& instructions, uint64_t) {
    ++instructions;
}

// The thread loop's look every PublishInterval + 1 instructions, at the boundary before the poll
// (as the deterministic driver's looks are): a key the pacer puts down here is seen by this
// step's poll, so a recorded session replays with the interrupt at the same instruction.
LB_INLINE void PeriodicLook(uint16_t pc, uint64_t instructions, uint64_t tstates) {
    if (((instructions + 1) & PublishInterval) == 0) [[unlikely]] {
        Publish({pc, instructions, tstates});
        if (PeriodicHook) PeriodicHook();
    }
}

// A period that begins now, not at a TICK: after a reset, or at a new pace.
void FreshPeriod(const LoopState& s, bool real) {
    TickStart = s.tstates;
    RealSpeedPeriod = real;
    PeriodBudget = PaceBudget();
}

// A TICK begins a new period. At real speed the T-states run past the budget are carried into it
// (a long block instruction may use up several periods); otherwise it starts afresh.
void StartTickPeriod(const LoopState& s, bool real) {
    uint64_t used = s.tstates - TickStart;
    if (real && RealSpeedPeriod && used >= PeriodBudget)
        TickStart += PeriodBudget;
    else
        TickStart = s.tstates;
    RealSpeedPeriod = real;
    PeriodBudget = PaceBudget();
}

// Run: the step executed an instruction; Skip: it executed none; Quit: QUIT was seen. Execute
// only from StepHead: the instruction at pc is the step's to count and execute.
enum StepResult { Run, Skip, Quit, Execute };

// The debug hook's verdict on the instruction at CpuState.PC: Run to let the step execute it as
// usual; an instruction for the checked tables is executed here (counted and published as the
// step would) and the step then executes nothing (Skip), as it does when the debugger stops.
LB_INLINE StepResult Debug(LoopState& s, DebugVerdict verdict, bool thread_loop) {
    if (verdict == DebugVerdict::Execute) return Run;
    if (verdict == DebugVerdict::Stop) return Skip;
    if (thread_loop)
        CountInstruction<true>(s.pc, s.instructions, s.tstates);
    else
        CountInstruction<false>(s.pc, s.instructions, s.tstates);
    const CheckedStep c = ExecuteChecked(CpuState.PC);
    s.tstates += c.tstates;
    CpuState.PC = s.pc = c.pc;
    return Skip;
}

// The poll, taken when waitstates is not 0 or a ControlFlags bit other than DEBUG is set: the
// pacing wait, then the poll, which acts on the first bit that applies in the order QUIT, RESET,
// PAUSE, TICK, HALTED (or, at real speed, a spent budget), KEY, and looks again until nothing is
// left but a KEY that cannot be taken yet, or an interrupt was accepted. PAUSE comes before TICK: a
// paused machine takes no NMI either. With DEBUG set the debug hook then has its say on the
// instruction about to run.
[[gnu::noinline]] StepResult Service(LoopState& s, int32_t waitstates, bool may_block) {
    if (waitstates > 0) PacingWait(waitstates);
    const bool real = waitstates == RealSpeedWaitstates;
    // Switched to or from real speed, or to another budget: a fresh period. A change of the pace
    // and back between two looks (turbo for a moment) counts too, or the machine would sit out
    // all the T-states run meanwhile before it ran again.
    const uint32_t changes = PaceChanges();
    if (real != RealSpeedPeriod || (real && changes != PaceChangesSeen)) FreshPeriod(s, real);
    PaceChangesSeen = changes;
    LastServiceTstates = s.tstates;
    CpuState.PC = s.pc;
    StepResult result = Run;
    bool paused = false;
    uint32_t raw = ReadControlFlags(); // for the waits, which compare the whole word
    uint32_t flags = raw & ~DEBUG;
    uint32_t events = 0;
    for (;;) {
        // Not looked at while paused: the timing may be restored meanwhile (a saved state).
        const bool spent = real && !(flags & PAUSE) && s.tstates - TickStart >= PeriodBudget;
        if (!flags && !spent) break;
        if (flags & QUIT) {
            result = Quit;
            break;
        }
        if (flags & RESET) {
            if (MachineEventHook) MachineEventHook(MachineEventReset, s.tstates);
            ProcessorReset();
            if (real) FreshPeriod(s, true);
        } else if (flags & PAUSE) {
            paused = true;
            if (may_block) PausedLooks.fetch_add(1, std::memory_order_relaxed);
            // The counts stand still while paused: show them as they are, once; from then on
            // until PAUSE clears the machine is another thread's to read or restore.
            if (!Paused.load(std::memory_order_relaxed)) {
                Publish(s);
                Paused.store(true, std::memory_order_release);
            }
            // From here the machine is another thread's until PAUSE clears: not even PC is read.
            if (!may_block) return Skip;
            ControlFlags.wait(raw, std::memory_order_acquire);
            // A saved machine may have been restored meanwhile: its counts are the published ones.
            s.instructions = PublishedInstructions.load(std::memory_order_relaxed);
            s.tstates = PublishedTstates.load(std::memory_order_relaxed);
            paused = false;
        } else if (flags & TICK) {
            if (MachineEventHook) MachineEventHook(MachineEventTick, s.tstates);
            StartTickPeriod(s, real);
            Publish(s);
            NmiEntry();
            events |= DebugTookNmi;
            s.tstates += NmiTstates;
            TicksTaken.store(TicksTaken.load(std::memory_order_relaxed) + 1,
                             std::memory_order_relaxed);
            ClearControlFlags(TICK | HALTED);
            break; // one TICK a poll, and none after another entry (see the KEY below)
        } else if ((flags & HALTED) || spent) {
            if (!real) {
                SpinPause();
            } else {
                if (!WaitingForTick.load(std::memory_order_relaxed)) {
                    WaitingForTick.store(true, std::memory_order_relaxed);
                    Publish(s);
                    if (may_block && PeriodEndHook) PeriodEndHook();
                }
                if (!may_block) {
                    result = Skip;
                    break;
                }
                ControlFlags.wait(raw, std::memory_order_acquire);
                if (Pace() != waitstates) { // a new pace: the next step looks at it afresh
                    WaitingForTick.store(false, std::memory_order_relaxed);
                    result = Skip;
                    break;
                }
            }
        } else {                                           // KEY
            if (!CpuState.IFF1) break;                     // waits for IFF1 while the program runs
            if (CpuState.IM) events |= DebugTookInterrupt; // mode 0 drops the request
            s.tstates += InterruptAcceptance();
            ClearControlFlags(KEY);
            // The poll ends with an accepted interrupt: a TICK raised meanwhile by another thread
            // is taken at the next step's poll, so every event of a poll happens at one T-state
            // count (what a recorded session notes of it).
            break;
        }
        raw = ReadControlFlags();
        flags = raw & ~DEBUG;
    }
    if (result == Run) WaitingForTick.store(false, std::memory_order_relaxed);
    if (!paused && Paused.load(std::memory_order_relaxed))
        Paused.store(false, std::memory_order_relaxed);
    s.pc = CpuState.PC;
    if (result == Run && (raw & DEBUG)) return Debug(s, DebugHookFn(events), may_block);
    return result;
}

// The debugger's verdict other than Execute, for the step: a stop, or the instruction through the
// checked tables.
[[gnu::noinline]] StepResult DebugVerdictOf(LoopState& s, DebugVerdict verdict, bool may_block) {
    return Debug(s, verdict, may_block);
}

// The single-step drivers share one out-of-line copy of the tables; the thread's loop has its own.
[[gnu::noinline]] void ExecuteOne(uint16_t& pc, uint64_t& tstates) {
    const uint8_t op = ReadByte(pc++);
    MainTable::Execute(op, pc, tstates);
}

// What a processor step does before its instruction, on the loop's own pc and counters: the
// thread loop's periodic look, then the poll or the debugger's look when the pace or ControlFlags
// asks for one. Execute when the instruction at pc is then to be counted and executed; Run when
// the debugger had it executed through the checked tables; Skip or Quit as the poll decided. Only
// the thread's loop may block.
template <bool thread_loop>
LB_INLINE StepResult StepHead(uint16_t& pc, uint64_t& instructions, uint64_t& tstates) {
    if constexpr (thread_loop) PeriodicLook(pc, instructions, tstates);
    const int32_t waitstates = Pace();
    const uint32_t flags = ReadControlFlags();
    if ((uint32_t(waitstates) | flags) != 0) [[unlikely]] {
        if ((uint32_t(waitstates) | flags) == DEBUG) { // the debugger alone: no poll
            // Most instructions: nothing marked here and nothing asked for, so no hook.
            if (!(DebugLooks[pc] | DebugAttention.load(std::memory_order_relaxed))) [[likely]] {
                RecordDebugPc(pc);
                if (!DebugChecked) return Execute;
                CountInstruction<thread_loop>(pc, instructions, tstates);
                const CheckedStep c = ExecuteChecked(pc);
                pc = c.pc;
                tstates += c.tstates;
                return Run;
            }
            CpuState.PC = pc;
            const DebugVerdict verdict = DebugHookFn(0);
            if (verdict == DebugVerdict::Execute) return Execute;
            LoopState s{pc, instructions, tstates};
            const StepResult r = DebugVerdictOf(s, verdict, thread_loop);
            pc = s.pc;
            instructions = s.instructions;
            tstates = s.tstates;
            return r;
        }
        LoopState s{pc, instructions, tstates};
        const StepResult r = Service(s, waitstates, thread_loop);
        pc = s.pc;
        instructions = s.instructions;
        tstates = s.tstates;
        if (r != Run) return r;
    }
    return Execute;
}

// One processor step of the single-step drivers. A run to a T-state count ends at the boundary
// that the poll's interrupt entry brought the count to: a recorded session saw events there when a
// debugger stopped the machine right after the entry.
LB_INLINE StepResult Step(uint16_t& pc, uint64_t& instructions, uint64_t& tstates,
                          uint64_t until_tstates) {
    const StepResult head = StepHead<false>(pc, instructions, tstates);
    if (head != Execute) return head;
    if (tstates >= until_tstates) return Skip;
    CountInstruction<false>(pc, instructions, tstates);
    ExecuteOne(pc, tstates);
    return Run;
}

// The single-step driver: never blocks, keeps its counts in the published ones.
[[gnu::noinline]] StepResult StepOnce(uint64_t until_tstates = UINT64_MAX) {
    // Paused: the machine is another thread's to read or restore until PAUSE clears, so a step
    // touches nothing of it (QUIT and RESET still go through the poll).
    if (Paused.load(std::memory_order_acquire)) {
        const uint32_t flags = ReadControlFlags();
        if ((flags & PAUSE) && !(flags & (QUIT | RESET))) return Skip;
    }
    uint16_t pc = CpuState.PC;
    uint64_t instructions = PublishedInstructions.load(std::memory_order_relaxed);
    uint64_t tstates = PublishedTstates.load(std::memory_order_relaxed);
    StepResult r = Step(pc, instructions, tstates, until_tstates);
    if (r == Run) {
        WaitingForTick.store(false, std::memory_order_relaxed);
        Paused.store(false, std::memory_order_relaxed);
    }
    // Paused, the poll has published everything: the machine is another thread's to read (or
    // restore) from the moment it says so.
    if (r == Skip && Paused.load(std::memory_order_relaxed)) return r;
    CpuState.PC = pc;
    Publish({pc, instructions, tstates});
    return r;
}

} // namespace

namespace {
void ForgetStall();
} // namespace

void ProcessorReset() {
    ForgetStall(); // a reset processor is no longer stuck
    auto& s = CpuState;
    s.PC = ResetAddress;
    s.I = 0;
    s.IFF1 = s.IFF2 = 0;
    s.IM = 0;
    ControlFlags.fetch_and(QUIT | PAUSE | DEBUG, std::memory_order_acq_rel);
    RealSpeedPeriod = false; // a real-speed budget starts afresh at the next step
    WaitingForTick.store(false, std::memory_order_relaxed);
    RefreshState = RefreshSeedFixed ? RefreshSeed : uint32_t(std::time(nullptr));
}

void NmiEntry() {
    auto& s = CpuState;
    s.IFF2 = s.IFF1;
    s.IFF1 = 0;
    Push(s.PC);
    s.PC = NmiAddress;
}

uint32_t InterruptAcceptance() {
    auto& s = CpuState;
    switch (s.IM) {
    case 1:
        DisableInterrupts();
        Push(s.PC);
        s.PC = Mode1Address;
        return Mode1Tstates;
    case 2: {
        DisableInterrupts();
        Push(s.PC);
        uint16_t vector = uint16_t(s.I << 8 | 2 * ReadInterruptBusByte());
        s.PC = ReadWord(vector);
        return Mode2Tstates;
    }
    default: // mode 0: the request is dropped
        return 0;
    }
}

uint32_t ExecuteInstruction() {
    uint16_t pc = CpuState.PC;
    uint64_t tstates = 0;
    ExecuteOne(pc, tstates);
    CpuState.PC = pc;
    PublishedInstructions.store(PublishedInstructions.load(std::memory_order_relaxed) + 1,
                                std::memory_order_relaxed);
    PublishedTstates.store(PublishedTstates.load(std::memory_order_relaxed) + tstates,
                           std::memory_order_relaxed);
    return uint32_t(tstates);
}

bool ProcessorStep() { return StepOnce() != Quit; }

void SetPeriodEndHook(void (*hook)()) { PeriodEndHook = hook; }

void SetPeriodicHook(void (*hook)()) { PeriodicHook = hook; }

void SetMachineEventHook(void (*hook)(uint32_t, uint64_t)) { MachineEventHook = hook; }

void SetDebugHook(DebugHook hook) { DebugHookFn = hook ? hook : NoDebugger; }

bool ProcessorWaitingForTick() { return WaitingForTick.load(std::memory_order_relaxed); }

bool ProcessorPaused() { return Paused.load(std::memory_order_acquire); }

uint64_t ProcessorPausedLooks() { return PausedLooks.load(std::memory_order_relaxed); }

LB_THREADED_LOOP int ProcessorThreadBody(void*) {
    uint16_t pc = CpuState.PC;
    uint64_t instructions = PublishedInstructions.load(std::memory_order_relaxed);
    uint64_t tstates = PublishedTstates.load(std::memory_order_relaxed);
#if LB_THREADED_DISPATCH
    // Threaded dispatch: every handler ends with its own copy of the step's common case (no
    // periodic look due, nothing in ControlFlags, full speed) and its own jump to the next
    // handler, so the host predicts each jump from the handler it leaves; anything else goes
    // through the whole head of the step. The same steps as the loop below, in the same order.
#define LB_LABEL_OF(code, ...) &&op_##code,
    static void* const handlers[256] = {MAIN_TABLE(LB_LABEL_OF)};
#undef LB_LABEL_OF
#define LB_LABEL_OF(code, ...) &&cb_##code,
    static void* const cb_handlers[256] = {CB_TABLE(LB_LABEL_OF)};
#undef LB_LABEL_OF
#define LB_LABEL_OF(code, ...) &&ed_##code,
    static void* const ed_handlers[256] = {ED_TABLE(LB_LABEL_OF)};
#undef LB_LABEL_OF
    uint8_t op;
head:
    switch (StepHead<true>(pc, instructions, tstates)) {
    case StepResult::Execute: break;
    case Quit: goto quit;
    default: goto head;
    }
    CountInstruction<true>(pc, instructions, tstates);
    op = ReadByte(pc++);
    goto* handlers[op];
// The common case that ends every handler: the next step, when it needs nothing but the
// instruction, counted and dispatched from here.
#define LB_NEXT                                                                                    \
    if ((((instructions + 1) & PublishInterval) == 0) |                                            \
        ((uint32_t(Pace()) | ReadControlFlags()) != 0)) [[unlikely]]                               \
        goto head;                                                                                 \
    CountInstruction<true>(pc, instructions, tstates);                                             \
    op = ReadByte(pc++);                                                                           \
    goto* handlers[op];
    // The CB and ED prefixes dispatch their second byte the same way.
#define LB_MAIN_CASE(code, cycles, handler, ...)                                                   \
    op_##code : tstates += cycles;                                                                 \
    if (code == 0xCB) goto cb_prefix;                                                              \
    if (code == 0xED) goto ed_prefix;                                                              \
    LB_CALL(handler, __VA_ARGS__)(pc, tstates);                                                    \
    LB_NEXT
    {
        using namespace MainTable;
        MAIN_TABLE(LB_MAIN_CASE)
    }
#undef LB_MAIN_CASE
cb_prefix:
    op = ReadByte(pc++);
    goto* cb_handlers[op];
#define LB_CB_CASE(code, cycles, handler, ...)                                                     \
    cb_##code : tstates += cycles;                                                                 \
    LB_CALL(handler, __VA_ARGS__)(pc, tstates);                                                    \
    LB_NEXT
    {
        using namespace CbTable;
        CB_TABLE(LB_CB_CASE)
    }
#undef LB_CB_CASE
ed_prefix:
    op = ReadByte(pc++);
    goto* ed_handlers[op];
#define LB_ED_CASE(code, cycles, handler, ...)                                                     \
    ed_##code : tstates += cycles;                                                                 \
    LB_CALL(handler, __VA_ARGS__)(pc, tstates);                                                    \
    LB_NEXT
    {
        using namespace EdTable;
        ED_TABLE(LB_ED_CASE)
    }
#undef LB_ED_CASE
#undef LB_NEXT
quit:
#else
    for (;;) {
        const StepResult head = StepHead<true>(pc, instructions, tstates);
        if (head == Quit) break;
        if (head != Execute) continue;
        CountInstruction<true>(pc, instructions, tstates);
        const uint8_t op = ReadByte(pc++);
        MainTable::Execute(op, pc, tstates);
    }
#endif
    CpuState.PC = pc;
    Publish({pc, instructions, tstates});
    return 16;
}

namespace {

constexpr uint64_t NoLook = UINT64_MAX; // no more looks in this run

// ProcessorRun's plain steps, until the instruction count reaches limit or a step needs the
// single-step driver, with the look when the count reaches look_at (then every interval). Its own
// function, so that PC and the counts stay in registers as in the thread's loop: every plain step
// is one instruction. With `until`, it also ends at the first boundary where the T-state count
// has reached until_tstates (ProcessorRunTo); the plain run has no such look.
template <bool until>
[[gnu::noinline]] LB_HOT_LOOP void RunPlain(LoopState& s, uint64_t limit, uint64_t& look_at,
                                            uint64_t interval, bool (*look)(),
                                            uint64_t until_tstates) {
    uint16_t pc = s.pc;
    uint64_t instructions = s.instructions;
    uint64_t tstates = s.tstates;
    uint64_t stop = std::min(limit, look_at);
    for (;;) {
        if constexpr (until) {
            if (tstates >= until_tstates) [[unlikely]]
                break;
        }
        if (instructions == stop) [[unlikely]] {
            if (instructions == limit) break;
            CpuState.PC = pc;
            Publish({pc, instructions, tstates});
            look_at = look() ? look_at + interval : NoLook;
            stop = std::min(limit, look_at);
        }
        const int32_t waitstates = Pace();
        const uint32_t flags = ReadControlFlags();
        if ((uint32_t(waitstates) | flags) != 0) [[unlikely]] {
            // Real speed within the period's budget, nothing pending: all the poll would do is
            // note the time of its look.
            if (waitstates == RealSpeedWaitstates && flags == 0 && RealSpeedPeriod &&
                PaceChanges() == PaceChangesSeen && tstates - TickStart < PeriodBudget) {
                LastServiceTstates = tstates;
            } else if ((uint32_t(waitstates) | flags) == DEBUG &&
                       !(DebugLooks[pc] | DebugAttention.load(std::memory_order_relaxed))) {
                // The debugger alone, nothing marked here nor asked for: the loop's own look.
                RecordDebugPc(pc);
                if (DebugChecked) {
                    Publish({pc, instructions, tstates}); // as the access hook would see them
                    ++instructions;
                    const CheckedStep c = ExecuteChecked(pc);
                    pc = c.pc;
                    tstates += c.tstates;
                    continue;
                }
            } else {
                break;
            }
        }
        ++instructions;
        const uint8_t op = ReadByte(pc++);
        MainTable::Execute(op, pc, tstates);
    }
    s = {pc, instructions, tstates};
}

template <bool until>
RunResult RunSteps(long steps, long look_interval, bool (*look)(), uint64_t until_tstates) {
    LoopState s{CpuState.PC, PublishedInstructions.load(std::memory_order_relaxed),
                PublishedTstates.load(std::memory_order_relaxed)};
    long taken = 0; // steps so far
    long next_look = 0;
    bool looking = true;
    // A pause or a spent period is cleared by the next step, as the single-step driver does: that
    // step goes to it.
    bool sticky =
        Paused.load(std::memory_order_relaxed) || WaitingForTick.load(std::memory_order_relaxed);
    for (;;) {
        if (!sticky && taken < steps) {
            // Plain steps, each one instruction, with the looks on the way.
            const uint64_t before = s.instructions;
            uint64_t look_at = looking ? before + uint64_t(next_look - taken) : NoLook;
            RunPlain<until>(s, before + uint64_t(steps - taken), look_at, uint64_t(look_interval),
                            look, until_tstates);
            taken += long(s.instructions - before);
            looking = look_at != NoLook;
            if (looking) next_look = taken + long(look_at - s.instructions);
        }
        if constexpr (until) {
            if (s.tstates >= until_tstates) {
                CpuState.PC = s.pc;
                Publish(s);
                return {RunEnd::Reached, taken};
            }
        }
        if (taken >= steps) {
            CpuState.PC = s.pc;
            Publish(s);
            return {RunEnd::Budget, taken};
        }
        if (looking && taken == next_look) {
            CpuState.PC = s.pc;
            Publish(s);
            looking = look();
            next_look += look_interval;
        }
        // A step the plain path does not take.
        const uint32_t flags = ReadControlFlags();
        RunEnd end = RunEnd::Budget;
        if ((flags & HALTED) && !(flags & (TICK | RESET | QUIT)))
            end = RunEnd::Halted;
        else if ((flags & PAUSE) && !(flags & (RESET | QUIT)))
            end = RunEnd::Paused;
        if (end != RunEnd::Budget) {
            CpuState.PC = s.pc;
            Publish(s);
            return {end, taken};
        }
        // The poll, a pacing wait, real speed, the debug hook, a step after a pause: the
        // single-step driver itself, so its rules live in one place.
        CpuState.PC = s.pc;
        Publish(s);
        const StepResult r = StepOnce(until ? until_tstates : UINT64_MAX);
        s = {CpuState.PC, PublishedInstructions.load(std::memory_order_relaxed),
             PublishedTstates.load(std::memory_order_relaxed)};
        if (r == Quit) return {RunEnd::Quit, taken};
        ++taken;
        const bool waiting = WaitingForTick.load(std::memory_order_relaxed);
        sticky = waiting || Paused.load(std::memory_order_relaxed);
        if (waiting) return {RunEnd::PeriodSpent, taken};
    }
}

} // namespace

RunResult ProcessorRun(long steps, long look_interval, bool (*look)()) {
    return RunSteps<false>(steps, look_interval, look, 0);
}

RunResult ProcessorRunTo(uint64_t tstates, long steps) {
    constexpr auto no_look = [] { return false; };
    return RunSteps<true>(steps, 1, no_look, tstates);
}

namespace {
// The stall being counted; stalled is set once, after stalled_pc.
struct {
    uint16_t pc = 0;
    uint32_t count = 0;
    std::atomic<bool> stalled{false};
    uint16_t stalled_pc = 0;
} Stall;
} // namespace

void NoteStall(uint16_t prefix) {
    if (prefix != Stall.pc) {
        Stall.pc = prefix;
        Stall.count = 0;
    }
    if (++Stall.count == StallRepeats && !Stall.stalled.load(std::memory_order_relaxed)) {
        Stall.stalled_pc = prefix;
        Stall.stalled.store(true, std::memory_order_release);
    }
}

namespace {
void ForgetStall() {
    Stall.count = 0;
    Stall.stalled.store(false, std::memory_order_relaxed);
}
} // namespace

bool ProcessorStalled(uint16_t& pc) {
    if (!Stall.stalled.load(std::memory_order_acquire)) return false;
    pc = Stall.stalled_pc;
    return true;
}

ProcessorCounts ReadProcessorCounts() {
    return {PublishedInstructions.load(std::memory_order_relaxed),
            PublishedTstates.load(std::memory_order_relaxed),
            TicksTaken.load(std::memory_order_relaxed)};
}

ProcessorTiming ReadProcessorTiming() {
    const ProcessorCounts c = ReadProcessorCounts();
    return {c.instructions,
            c.tstates,
            c.ticks,
            TickStart,
            LastServiceTstates,
            RealSpeedPeriod,
            WaitingForTick.load(std::memory_order_relaxed),
            RefreshState};
}

void RestoreProcessorTiming(const ProcessorTiming& t) {
    PublishedInstructions.store(t.instructions, std::memory_order_relaxed);
    PublishedTstates.store(t.tstates, std::memory_order_relaxed);
    TicksTaken.store(t.ticks, std::memory_order_relaxed);
    TickStart = t.tick_start;
    LastServiceTstates = t.last_service;
    RealSpeedPeriod = t.real_speed_period;
    PeriodBudget = PaceBudget();
    PaceChangesSeen = PaceChanges();
    WaitingForTick.store(t.waiting_for_tick, std::memory_order_relaxed);
    RefreshState = t.refresh_state;
}

void SetRefreshSeed(uint32_t seed) {
    RefreshSeedFixed = true;
    RefreshSeed = seed;
    RefreshState = seed;
}

void UseTimeRefreshSeed() { RefreshSeedFixed = false; }

bool ReadRefreshSeed(uint32_t& seed) {
    seed = RefreshSeed;
    return RefreshSeedFixed;
}

void SetResetRefreshSeed(bool fixed, uint32_t seed) {
    RefreshSeedFixed = fixed;
    RefreshSeed = seed;
}

// A linear congruential generator; A gets bits 24-30 of the state, its best-mixed bits.
uint8_t NextRefreshValue() {
    RefreshState = RefreshState * 1103515245u + 12345u;
    return uint8_t(RefreshState >> 24 & 0x7F);
}
