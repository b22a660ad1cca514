// Breakpoints, stepping and the trace: the processor's hook and the functions that arm it.
#include "system/debugger.h"

#include "cpu/bus.h"
#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "machine/memory.h"
#include "system/hold.h"
#include "system/recording.h"
#include "host/file_io.h"
#include "system/registers.h"
#include "system/system.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

// ---- Breakpoints --------------------------------------------------------------------------------
//
// The list is changed only by the front end's thread while the processor is held (MachineHold) or
// stands still, and read by the processor's thread in its hook; what the processor changes in it
// (hits, a temporary breakpoint spent) are atomics.

struct Slot {
    bool used = false;
    Breakpoint b;
    const RegisterEntry* reg = nullptr; // the condition's register
    uint16_t curline = 0, tp = 0;       // a BASIC line breakpoint: where the BASIC keeps them
    std::atomic<uint32_t> hits{0};
    std::atomic<bool> spent{false}; // a temporary breakpoint that fired
};
std::array<Slot, MaxBreakpoints> Slots;
int NextId = 1;

// Per address: an enabled execution breakpoint is set there (rebuilt after every change, with
// the processor's WatchedAddresses and WatchedPorts).
uint8_t (&ExecMap)[MemorySize] = DebugLooks;
uint8_t (&WatchMap)[MemorySize] = WatchedAddresses; // AccessRead | AccessWrite
uint8_t (&PortMap)[256] = WatchedPorts;             // AccessIn | AccessOut
bool AnyNmi = false, AnyInterrupt = false;

std::atomic<bool> Attached{false};

// ---- The run's goal and the stop
// -----------------------------------------------------------------

enum class Goal : uint8_t { None, Step, StepOver, StepOut, RunTo };
// Written by the front end while the machine stands still, read and written by the hook.
struct {
    Goal goal = Goal::None;
    uint32_t steps_left = 0;
    uint16_t pc = 0;      // StepOver, RunTo: where to stop
    uint16_t sp = 0;      // StepOver: SP at most this far down; StepOut: SP above this
    bool started = false; // the goal's first instruction has been seen
    bool prev_return = false;
    bool skip_armed = false; // the instruction the machine stopped at runs without firing again
    uint16_t skip_pc = 0;
    bool skip_held = false; // an interrupt came first: the skip waits for its handler's return
    // Step over: an interrupt taken on the way runs through its handler unseen, back to where
    // it struck (the word it pushed) with the stack popped again.
    bool over_interrupts = false;
    bool in_handler = false;
    uint16_t handler_return = 0;
    uint16_t handler_sp = 0; // SP once the handler has returned
} Run;

StopInfo LastStop;
std::atomic<uint64_t> StopSerial{0};

// The trace: lines gathered in a buffer and written straight to the file when it fills, on the
// processor thread. A failed write or the size limit ends it there; the front end learns of it
// through TraceEnded (release store after the fields).
struct TraceFile {
    int fd = -1;
    std::string path;
    uint64_t limit = 0;   // bytes the trace may hold
    uint64_t written = 0; // bytes given to the file (or buffered) so far; after a failed write,
                          // what the file holds
    int error = 0;        // errno of a failed write
    bool full = false;    // ended at the limit
    size_t used = 0;
    char buffer[1 << 16];
};
TraceFile TraceOut;
// A trace is being written: read by the hook, ended by it (processor thread) or by the front end.
std::atomic<bool> Trace{false};
std::atomic<bool> TraceEnded{false};

// The processor's DebugAttention: the hook sees every instruction while a goal, a skip or a trace
// needs it (written while the machine stands still or by the hook), or a pause is asked for (from
// any thread, cleared by the stop).
static_assert(PcHistorySize == PcHistoryRingSize);
constexpr uint32_t AttentionRun = 0x01;
constexpr uint32_t AttentionPause = 0x02;

bool PauseRequested() { return DebugAttention.load(std::memory_order_relaxed) & AttentionPause; }

void UpdateAttention() {
    const bool want =
        Run.goal != Goal::None || Run.skip_armed || Trace.load(std::memory_order_relaxed);
    if (want == bool(DebugAttention.load(std::memory_order_relaxed) & AttentionRun)) return;
    if (want)
        DebugAttention.fetch_or(AttentionRun, std::memory_order_relaxed);
    else
        DebugAttention.fetch_and(~AttentionRun, std::memory_order_relaxed);
}

bool ProcessorStandsStill() { return !SystemRunning() || (SystemPaused() && ProcessorPaused()); }

void RebuildMaps() {
    std::memset(ExecMap, 0, sizeof ExecMap);
    std::memset(WatchMap, 0, sizeof WatchMap);
    std::memset(PortMap, 0, sizeof PortMap);
    DebugChecked = AnyNmi = AnyInterrupt = false;
    for (auto& s : Slots) {
        if (!s.used || !s.b.enabled || s.spent.load(std::memory_order_relaxed)) continue;
        const Breakpoint& b = s.b;
        switch (b.kind) {
        case BreakKind::Execute: ExecMap[b.address] = 1; break;
        case BreakKind::Read:
        case BreakKind::Write:
        case BreakKind::Access: {
            const uint8_t bits = b.kind == BreakKind::Read    ? AccessRead
                                 : b.kind == BreakKind::Write ? AccessWrite
                                                              : AccessRead | AccessWrite;
            for (uint32_t i = 0; i < b.length; ++i)
                WatchMap[uint16_t(b.address + i)] |= bits;
            DebugChecked = true;
            break;
        }
        case BreakKind::PortIn:
            PortMap[b.address & 0xFF] |= AccessIn;
            DebugChecked = true;
            break;
        case BreakKind::PortOut:
            PortMap[b.address & 0xFF] |= AccessOut;
            DebugChecked = true;
            break;
        case BreakKind::Interrupt: AnyInterrupt = true; break;
        case BreakKind::Nmi: AnyNmi = true; break;
        }
    }
}

bool Compare(CompareOp op, uint32_t a, uint32_t b) {
    switch (op) {
    case CompareOp::Equal: return a == b;
    case CompareOp::NotEqual: return a != b;
    case CompareOp::Less: return a < b;
    case CompareOp::LessEqual: return a <= b;
    case CompareOp::Greater: return a > b;
    default: return a >= b;
    }
}

// The BASIC starts line n: the line being run is n and the text pointer stands at its first
// statement (only spaces before it).
bool AtBasicLineStart(const Slot& s) {
    const uint16_t line = ReadWord(s.curline);
    if (!line || ReadWord(uint16_t(line + 2)) != uint16_t(s.b.basic_line)) return false;
    const uint16_t tp = ReadWord(s.tp);
    uint16_t a = uint16_t(line + 4);
    for (int i = 0; i < 256 && a != tp; ++i, ++a)
        if (ReadByte(a) != ' ') return false;
    return a == tp;
}

bool ConditionHolds(const Slot& s) {
    if (s.b.basic_line >= 0 && !AtBasicLineStart(s)) return false;
    const BreakCondition& c = s.b.condition;
    if (!c.active) return true;
    const uint32_t v = c.memory ? ReadByte(c.address) : s.reg->read();
    return Compare(c.op, v, c.value);
}

// Processor thread: the first enabled breakpoint of these kinds that matches fires.
template <typename Match> Slot* Fire(Match match) {
    for (auto& s : Slots) {
        if (!s.used || !s.b.enabled || s.spent.load(std::memory_order_relaxed)) continue;
        if (!match(s.b) || !ConditionHolds(s)) continue;
        s.hits.fetch_add(1, std::memory_order_relaxed);
        if (s.b.temporary) s.spent.store(true, std::memory_order_relaxed);
        return &s;
    }
    return nullptr;
}

// Processor thread: stop the machine here.
// Before an instruction the machine stops at it, and that instruction then runs without firing an
// execution breakpoint again; a watch stops it after the instruction, with nothing to skip.
void Stop(StopReason reason, int id, uint16_t address = 0, uint8_t value = 0) {
    const bool watch = reason == StopReason::Watch || reason == StopReason::Io;
    LastStop = StopInfo{reason, id, CpuState.PC, address, value, 0};
    Run.goal = Goal::None;
    Run.skip_armed = !watch && reason != StopReason::Pause; // a pause looked at nothing yet
    Run.skip_pc = CpuState.PC;
    Run.skip_held = false;
    if (PauseRequested()) DebugAttention.fetch_and(~AttentionPause, std::memory_order_relaxed);
    UpdateAttention();
    SystemPause(true);
    SystemRedraw();
    LastStop.serial = StopSerial.load(std::memory_order_relaxed) + 1;
    StopSerial.store(LastStop.serial, std::memory_order_release);
}

// Length of the instruction at pc without building its text (checked tables only).
uint8_t InstructionLength(uint16_t pc) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = ReadByte(uint16_t(pc + i));
    return DisassembleBytes(bytes, pc).length;
}

bool IsReturn(uint16_t pc) {
    const uint8_t op = ReadByte(pc);
    if (op == 0xC9 || (op & 0xC7) == 0xC0) return true;
    return op == 0xED && (ReadByte(uint16_t(pc + 1)) & 0xC7) == 0x45;
}

// Writes the buffered lines; false, with the errno kept, on a failure.
bool FlushTrace() {
    TraceFile& t = TraceOut;
    if (t.used == 0) return true;
    const bool ok = WriteAll(t.fd, t.buffer, t.used);
    if (!ok) {
        t.error = errno ? errno : EIO;
        const off_t at = lseek(t.fd, 0, SEEK_CUR); // what the file holds: part may have gone in
        t.written = at >= 0 ? uint64_t(at) : t.written - t.used;
    }
    t.used = 0;
    return ok;
}

// Ends the trace: what is buffered is written and the file closed. A failure of either ends it
// as a failed write.
void CloseTrace() {
    TraceFile& t = TraceOut;
    if (t.fd < 0) return;
    bool ok = FlushTrace();
    if (close(t.fd) != 0 && ok) {
        t.error = errno;
        ok = false;
    }
    t.fd = -1;
    Trace.store(false, std::memory_order_relaxed);
}

// Ends the trace from the hook (a failed write, the limit reached); the front end is told.
void EndTrace() {
    CloseTrace();
    TraceEnded.store(true, std::memory_order_release);
    UpdateAttention();
}

void TraceLine(uint16_t pc) {
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = ReadByte(uint16_t(pc + i));
    const DisassembledInstruction d = DisassembleBytes(bytes, pc);
    char hex[16] = {};
    for (int i = 0; i < d.length; ++i)
        std::snprintf(hex + 3 * i, sizeof hex - 3 * i, "%02X ", bytes[i]);
    TraceFile& t = TraceOut;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "0x%04X  %-12s %s\n", pc, hex, d.text);
    const size_t length = size_t(std::clamp(n, 0, int(sizeof line) - 1));
    if (t.written + length > t.limit) {
        t.full = true;
        EndTrace();
        return;
    }
    if (t.used + length > sizeof t.buffer && !FlushTrace()) {
        EndTrace();
        return;
    }
    std::memcpy(t.buffer + t.used, line, length);
    t.used += length;
    t.written += length;
}

// What the hook does for an instruction that runs.
inline DebugVerdict Executes(uint16_t pc) {
    RecordDebugPc(pc);
    if (Trace.load(std::memory_order_relaxed)) TraceLine(pc);
    return DebugChecked ? DebugVerdict::ExecuteChecked : DebugVerdict::Execute;
}

// The hook, before every instruction while attached (processor thread).
DebugVerdict OnStep(uint32_t events) {
    const uint16_t pc = CpuState.PC;
    // Most instructions: no breakpoint here, no interrupt taken, no goal, no pause asked for.
    if (!(ExecMap[pc] | events | DebugAttention.load(std::memory_order_relaxed))) [[likely]]
        return Executes(pc);
    bool skip = false;
    if (Run.skip_armed) {
        if (pc == Run.skip_pc) {
            skip = true;
            Run.skip_armed = Run.skip_held = false;
        } else if (events) {
            Run.skip_held = true; // the handler returns to the instruction that has not run yet
        } else if (!Run.skip_held) {
            Run.skip_armed = false;
        }
        UpdateAttention();
    }
    if (PauseRequested()) {
        Stop(StopReason::Pause, 0);
        return DebugVerdict::Stop;
    }
    if (events && (AnyNmi || AnyInterrupt)) {
        const bool nmi = events & DebugTookNmi;
        if (Slot* s = Fire([nmi](const Breakpoint& b) {
                return b.kind == (nmi ? BreakKind::Nmi : BreakKind::Interrupt);
            })) {
            Stop(StopReason::Interrupt, s->b.id);
            return DebugVerdict::Stop;
        }
    }
    if (!skip && ExecMap[pc]) {
        if (Slot* s = Fire([pc](const Breakpoint& b) {
                return b.kind == BreakKind::Execute && b.address == pc;
            })) {
            Stop(StopReason::Breakpoint, s->b.id);
            return DebugVerdict::Stop;
        }
    }
    if (Run.over_interrupts) {
        if (events && !Run.in_handler) {
            Run.in_handler = true;
            Run.handler_return = ReadWord(CpuState.SP);
            Run.handler_sp = uint16_t(CpuState.SP + 2);
        }
        if (Run.in_handler) {
            // SP at or above where the handler leaves it, in the stack's own wrapping order.
            if (pc != Run.handler_return || uint16_t(CpuState.SP - Run.handler_sp) >= 0x8000)
                return Executes(pc);
            Run.in_handler = false;
        }
    }
    switch (Run.goal) {
    case Goal::None: break;
    case Goal::Step:
        if (Run.steps_left == 0) {
            Stop(StopReason::Step, 0);
            return DebugVerdict::Stop;
        }
        --Run.steps_left;
        break;
    case Goal::StepOver:
    case Goal::RunTo:
        // Back behind the call with the stack where it was, or one word below: a routine may
        // return through a helper that leaves its frame pointer pushed (SDCC's entry helper).
        // A recursive call returning to the same place stands lower still, and runs on.
        if (Run.started && pc == Run.pc && int(CpuState.SP) + 2 >= int(Run.sp)) {
            Stop(Run.goal == Goal::RunTo ? StopReason::RunTo : StopReason::StepOver, 0);
            return DebugVerdict::Stop;
        }
        break;
    case Goal::StepOut:
        if (Run.prev_return && CpuState.SP > Run.sp) {
            Stop(StopReason::StepOut, 0);
            return DebugVerdict::Stop;
        }
        Run.prev_return = IsReturn(pc);
        break;
    }
    Run.started = true;
    return Executes(pc);
}

// Every data access of an instruction the checked tables execute (processor thread).
bool OnAccess(uint16_t instruction, uint16_t address, uint8_t kind, uint8_t value) {
    if (kind & (AccessIn | AccessOut)) {
        if (!(PortMap[address & 0xFF] & kind)) return false;
        const BreakKind want = kind == AccessIn ? BreakKind::PortIn : BreakKind::PortOut;
        if (Slot* s = Fire([&](const Breakpoint& b) {
                return b.kind == want && b.address == (address & 0xFF);
            })) {
            Stop(StopReason::Io, s->b.id, address & 0xFF, value);
            return true;
        }
        return false;
    }
    if (!(WatchMap[address] & kind)) return false;
    // Operand bytes of the instruction itself are fetches, not data.
    if (kind == AccessRead && uint16_t(address - instruction) < InstructionLength(instruction))
        return false;
    if (Slot* s = Fire([&](const Breakpoint& b) {
            if (b.kind == BreakKind::Execute || b.kind == BreakKind::PortIn ||
                b.kind == BreakKind::PortOut || b.kind == BreakKind::Interrupt ||
                b.kind == BreakKind::Nmi)
                return false;
            if (b.kind == BreakKind::Read && kind != AccessRead) return false;
            if (b.kind == BreakKind::Write && kind != AccessWrite) return false;
            return uint16_t(address - b.address) < b.length || b.length > 0xFFFF;
        })) {
        Stop(StopReason::Watch, s->b.id, address, value);
        return true;
    }
    return false;
}

void UpdateArming() {
    if (Attached.load(std::memory_order_relaxed))
        SetControlFlags(DEBUG);
    else
        ClearControlFlags(DEBUG);
}

// Starts a goal from a machine that stands still.
bool Resume(Goal goal, bool over_interrupts = false) {
    if (!Attached.load(std::memory_order_relaxed) || !ProcessorStandsStill()) return false;
    Run.goal = goal;
    Run.over_interrupts = over_interrupts;
    Run.in_handler = false;
    Run.started = false;
    Run.prev_return = false;
    // The instruction the machine stands at runs first without firing its execution breakpoint
    // (also when PC was set meanwhile); after a watch the next instruction was never looked at.
    if (LastStop.reason != StopReason::Watch && LastStop.reason != StopReason::Io) {
        Run.skip_armed = true;
        Run.skip_pc = CpuState.PC;
        Run.skip_held = false;
    }
    LastStop.reason = StopReason::None;
    UpdateAttention();
    SystemPause(false);
    return true;
}

} // namespace

// ---- Attaching ----------------------------------------------------------------------------------

void DebugAttach() {
    MachineHold hold;
    SetDebugHook(OnStep);
    SetAccessHook(OnAccess);
    Attached.store(true, std::memory_order_relaxed);
    UpdateArming();
}

void DebugDetach() {
    if (!Attached.load(std::memory_order_relaxed)) return;
    {
        MachineHold hold;
        for (auto& s : Slots)
            s.used = false;
        RebuildMaps();
        Attached.store(false, std::memory_order_relaxed);
        UpdateArming();
        Run = {};
        PcHistoryCount = 0;
        CloseTrace();
        DebugAttention.store(0, std::memory_order_relaxed); // a pause asked for goes too
    }
    if (LastStop.reason != StopReason::None && SystemPaused()) SystemPause(false);
    LastStop = {};
}

bool DebugAttached() { return Attached.load(std::memory_order_relaxed); }

// ---- Breakpoints --------------------------------------------------------------------------------

int DebugAddBreakpoint(const Breakpoint& b, std::string* error) {
    auto fail = [error](const char* why) {
        if (error) *error = why;
        return 0;
    };
    if ((b.kind == BreakKind::PortIn || b.kind == BreakKind::PortOut) && b.address > 0xFF)
        return fail("a port is 0-255");
    const bool ranged =
        b.kind == BreakKind::Read || b.kind == BreakKind::Write || b.kind == BreakKind::Access;
    if (ranged && (b.length == 0 || b.length > MemorySize))
        return fail("a watched range is 1-65536 bytes");
    const RegisterEntry* reg = nullptr;
    if (b.condition.active && !b.condition.memory) {
        reg = FindRegister(b.condition.reg);
        if (!reg) return fail("unknown register in the condition");
    }
    // A BASIC line: the interpreter's statement routine, checked against where the BASIC stands.
    uint16_t curline = 0, tp = 0, statement = 0;
    if (b.basic_line == 0 || b.basic_line > 65535) return fail("a BASIC line is 1-65535");
    if (b.basic_line > 0 &&
        (!DebugSymbolAddress("curline", curline) || !DebugSymbolAddress("tp", tp) ||
         !DebugSymbolAddress("statement", statement)))
        return fail("the free BASIC's symbols are not loaded (load basic.rom.sym)");
    MachineHold hold;
    Slot* free_slot = nullptr;
    for (auto& s : Slots) {
        if (s.used && s.spent.load(std::memory_order_relaxed)) s.used = false; // fired, gone
        if (!s.used && !free_slot) free_slot = &s;
    }
    if (!free_slot) return fail("too many breakpoints");
    free_slot->b = b;
    free_slot->b.id = NextId++;
    if (!ranged) free_slot->b.length = 1;
    if (b.basic_line > 0) {
        free_slot->b.kind = BreakKind::Execute;
        free_slot->b.address = statement;
    }
    free_slot->reg = reg;
    if (reg) free_slot->b.condition.reg = reg->name; // "hl_" is listed as HL'
    free_slot->curline = curline;
    free_slot->tp = tp;
    free_slot->hits.store(0, std::memory_order_relaxed);
    free_slot->spent.store(false, std::memory_order_relaxed);
    free_slot->used = true;
    RebuildMaps();
    return free_slot->b.id;
}

bool DebugRemoveBreakpoint(int id) {
    MachineHold hold;
    for (auto& s : Slots)
        if (s.used && s.b.id == id) {
            s.used = false;
            RebuildMaps();
            return true;
        }
    return false;
}

bool DebugEnableBreakpoint(int id, bool enabled) {
    MachineHold hold;
    for (auto& s : Slots)
        if (s.used && s.b.id == id) {
            s.b.enabled = enabled;
            RebuildMaps();
            return true;
        }
    return false;
}

void DebugClearBreakpoints() {
    MachineHold hold;
    for (auto& s : Slots)
        s.used = false;
    RebuildMaps();
}

std::vector<Breakpoint> DebugBreakpoints() {
    std::vector<Breakpoint> list;
    for (const auto& s : Slots) {
        if (!s.used || s.spent.load(std::memory_order_relaxed)) continue;
        list.push_back(s.b);
        list.back().hits = s.hits.load(std::memory_order_relaxed);
    }
    std::sort(list.begin(), list.end(),
              [](const Breakpoint& a, const Breakpoint& b) { return a.id < b.id; });
    return list;
}

// ---- Running and stopping -----------------------------------------------------------------------

const char* StopReasonName(StopReason r) {
    switch (r) {
    case StopReason::None: return "none";
    case StopReason::Breakpoint: return "break";
    case StopReason::Watch: return "watch";
    case StopReason::Io: return "io";
    case StopReason::Interrupt: return "interrupt";
    case StopReason::Step: return "step";
    case StopReason::StepOver: return "step_over";
    case StopReason::StepOut: return "step_out";
    case StopReason::RunTo: return "run_to";
    default: return "pause";
    }
}

bool DebugContinue() { return Resume(Goal::None); }

bool DebugStep(uint32_t count) {
    if (count == 0) return false;
    Run.steps_left = count;
    return Resume(Goal::Step);
}

bool DebugStepOver() {
    if (!ProcessorStandsStill()) return false;
    const uint16_t pc = CpuState.PC;
    const DisassembledInstruction d = Disassemble(pc);
    if (d.flow != FlowKind::Call && d.flow != FlowKind::Restart &&
        d.flow != FlowKind::BlockRepeat) {
        Run.steps_left = 1;
        return Resume(Goal::Step, true);
    }
    Run.pc = uint16_t(pc + d.length);
    Run.sp = CpuState.SP;
    return Resume(Goal::StepOver, true);
}

bool DebugStepOut() {
    if (!ProcessorStandsStill()) return false;
    Run.sp = CpuState.SP;
    return Resume(Goal::StepOut);
}

bool DebugRunTo(uint16_t address) {
    Run.pc = address;
    Run.sp = 0;
    return Resume(Goal::RunTo);
}

void DebugPause() {
    if (!Attached.load(std::memory_order_relaxed)) return;
    if (!SystemRunning()) { // between ticks: nothing runs, so stop right here
        if (!SystemPaused()) Stop(StopReason::Pause, 0);
        return;
    }
    if (!ProcessorStandsStill()) DebugAttention.fetch_or(AttentionPause, std::memory_order_relaxed);
}

uint64_t DebugStopSerial() { return StopSerial.load(std::memory_order_acquire); }

bool DebugStanding(StopInfo* info) {
    if (!ProcessorStandsStill()) return false;
    if (info) {
        *info = LastStop;
        info->pc = CpuState.PC;
    }
    return true;
}

// ---- Registers and memory -----------------------------------------------------------------------

bool DebugReadRegisters(DebugRegisters& r) {
    if (!ProcessorStandsStill()) return false;
    const auto& s = CpuState;
    r = DebugRegisters{
        s.AF, s.BC, s.DE,         s.HL,         s.IX,  s.IY,
        s.SP, s.PC, s.AF_,        s.BC_,        s.DE_, s.HL_,
        s.I,  0,    bool(s.IFF1), bool(s.IFF2), s.IM,  (ReadControlFlags() & HALTED) != 0};
    return true;
}

// The edits below make the machine one that a recording under way cannot follow, nor a replay go
// on from: RecordingInterrupt ends either where the machine stands, before the edit, and says so.
bool DebugWriteRegisters(const DebugRegisters& r) {
    if (!ProcessorStandsStill() || r.im > 2) return false;
    RecordingInterrupt();
    auto& s = CpuState;
    s.AF = r.af, s.BC = r.bc, s.DE = r.de, s.HL = r.hl, s.IX = r.ix, s.IY = r.iy, s.SP = r.sp;
    s.PC = r.pc, s.AF_ = r.af_, s.BC_ = r.bc_, s.DE_ = r.de_, s.HL_ = r.hl_, s.I = r.i;
    s.IFF1 = r.iff1, s.IFF2 = r.iff2, s.IM = r.im;
    FindRegister("HALTED")->write(r.halted);
    return true;
}

bool DebugGetRegister(const std::string& name, uint32_t& value) {
    const RegisterEntry* r = FindRegister(name);
    if (!r || !ProcessorStandsStill()) return false;
    value = r->read();
    return true;
}

bool DebugSetRegister(const std::string& name, uint32_t value) {
    const RegisterEntry* r = FindRegister(name);
    if (!r || value > RegisterMax(r->width) || !ProcessorStandsStill()) return false;
    RecordingInterrupt();
    r->write(value);
    return true;
}

void DebugReadMemory(uint16_t address, uint8_t* out, size_t length) {
    for (size_t i = 0; i < length; ++i)
        out[i] = ReadMemoryShared(uint16_t(address + i));
}

bool DebugWriteMemory(uint16_t address, const uint8_t* data, size_t length) {
    if (!ProcessorStandsStill()) return false;
    RecordingInterrupt();
    bool screen = false;
    for (size_t i = 0; i < length; ++i) {
        const uint16_t at = uint16_t(address + i);
        WriteByte(at, data[i]);
        screen |= uint32_t(at - ScreenMemoryAddress) < ScreenMemorySize;
    }
    // A machine that stands still draws no frame of its own: the picture shows the edit now.
    if (screen) SystemRedraw();
    return true;
}

std::vector<uint16_t> DebugPcHistory() {
    std::vector<uint16_t> list;
    if (!ProcessorStandsStill()) return list;
    const uint64_t n = std::min<uint64_t>(PcHistoryCount, PcHistoryRingSize);
    for (uint64_t i = PcHistoryCount - n; i < PcHistoryCount; ++i)
        list.push_back(PcHistoryRing[i % PcHistoryRingSize]);
    return list;
}

bool DebugTraceTo(const std::string& path, std::string* error, uint64_t max_bytes) {
    int fd = -1;
    if (!path.empty()) {
        std::string why;
        fd = OpenPlainFileForWriting(path.c_str(), why);
        const char* own = fd >= 0 ? ProgramFileOf(fd) : nullptr;
        if (fd < 0 || own) {
            if (error)
                *error = own ? "not writing " + path + ": it is the program's " + own
                         : errno == EEXIST
                             ? "not writing " + path + ": it is " + why + ", not a plain file"
                             : "cannot open " + path + ": " + why;
            if (fd >= 0) close(fd);
            return false;
        }
        if (ftruncate(fd, 0) != 0) {
            if (error) *error = "cannot empty " + path + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
    }
    MachineHold hold;
    // The trace that ran until now ends here; its last lines failing to go out is said.
    const bool was_open = TraceOut.fd >= 0;
    CloseTrace();
    if (was_open && TraceOut.error) {
        if (error)
            *error = "the trace to " + TraceOut.path + " ended: " + std::strerror(TraceOut.error);
        TraceOut.error = 0;
        if (fd >= 0) close(fd);
        UpdateAttention();
        return false;
    }
    TraceEnded.store(false, std::memory_order_relaxed);
    TraceOut.path = path;
    TraceOut.fd = fd;
    TraceOut.limit = max_bytes;
    TraceOut.written = 0;
    TraceOut.error = 0;
    TraceOut.full = false;
    Trace.store(fd >= 0, std::memory_order_relaxed);
    UpdateAttention();
    return true;
}

bool DebugTraceEnded(TraceEnd& end) {
    if (!TraceEnded.load(std::memory_order_acquire)) return false;
    TraceEnded.store(false, std::memory_order_relaxed);
    end.path = TraceOut.path;
    end.bytes = TraceOut.written;
    end.error = TraceOut.error;
    end.full = TraceOut.full && TraceOut.error == 0;
    return true;
}

void DebugTraceFlush() {
    if (!Trace.load(std::memory_order_relaxed)) return;
    MachineHold hold;
    if (Trace.load(std::memory_order_relaxed) && !FlushTrace()) EndTrace();
}

// ---- Disassembly and symbols --------------------------------------------------------------------

std::vector<DisassemblyLine> DebugDisassemble(uint16_t address, size_t count) {
    std::vector<DisassemblyLine> lines;
    for (size_t n = 0; n < count; ++n) {
        uint8_t bytes[4];
        DebugReadMemory(address, bytes, 4);
        const DisassembledInstruction d = DisassembleBytes(bytes, address);
        DisassemblyLine line{address, {}, d.text, DebugSymbolAt(address)};
        for (int i = 0; i < d.length; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
            line.hex += hex;
        }
        lines.push_back(std::move(line));
        address = uint16_t(address + d.length);
    }
    return lines;
}
