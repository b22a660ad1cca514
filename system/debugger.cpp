#include "system/debugger.h"

#include "cpu/bus.h"
#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "system/hold.h"
#include "system/system.h"
#include "host/file_io.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// ---- Registers by name --------------------------------------------------------------------------

struct RegisterInfo {
    const char* name;
    uint32_t max; // 0xFF, 0xFFFF or 1
};
const RegisterInfo Registers[] = {
    {"A", 0xFF},     {"F", 0xFF},     {"B", 0xFF},     {"C", 0xFF},    {"D", 0xFF},
    {"E", 0xFF},     {"H", 0xFF},     {"L", 0xFF},     {"I", 0xFF},    {"R", 0xFF},
    {"IM", 2},       {"AF", 0xFFFF},  {"BC", 0xFFFF},  {"DE", 0xFFFF}, {"HL", 0xFFFF},
    {"IX", 0xFFFF},  {"IY", 0xFFFF},  {"SP", 0xFFFF},  {"PC", 0xFFFF}, {"AF'", 0xFFFF},
    {"BC'", 0xFFFF}, {"DE'", 0xFFFF}, {"HL'", 0xFFFF}, {"IFF1", 1},    {"IFF2", 1},
    {"HALTED", 1},
};
constexpr int RegisterCount = int(sizeof Registers / sizeof Registers[0]);

int RegisterIndex(const std::string& name) {
    std::string upper = name;
    for (auto& c : upper)
        c = char(std::toupper(uint8_t(c)));
    if (upper.size() > 1 && upper.back() == '_')
        upper.back() = '\''; // "AF_" as the protocol names it
    for (int i = 0; i < RegisterCount; ++i)
        if (upper == Registers[i].name) return i;
    return -1;
}

// Processor thread, or a front end while the machine stands still.
uint32_t ReadRegister(int index) {
    const auto& s = CpuState;
    switch (index) {
    case 0: return s.A;
    case 1: return s.F;
    case 2: return s.B;
    case 3: return s.C;
    case 4: return s.D;
    case 5: return s.E;
    case 6: return s.H;
    case 7: return s.L;
    case 8: return s.I;
    case 9: return 0; // no refresh register
    case 10: return s.IM;
    case 11: return s.AF;
    case 12: return s.BC;
    case 13: return s.DE;
    case 14: return s.HL;
    case 15: return s.IX;
    case 16: return s.IY;
    case 17: return s.SP;
    case 18: return s.PC;
    case 19: return s.AF_;
    case 20: return s.BC_;
    case 21: return s.DE_;
    case 22: return s.HL_;
    case 23: return s.IFF1;
    case 24: return s.IFF2;
    default: return (ReadControlFlags() & HALTED) ? 1 : 0;
    }
}

void WriteRegister(int index, uint32_t v) {
    auto& s = CpuState;
    const uint8_t b = uint8_t(v);
    const uint16_t w = uint16_t(v);
    switch (index) {
    case 0: s.A = b; break;
    case 1: s.F = b; break;
    case 2: s.B = b; break;
    case 3: s.C = b; break;
    case 4: s.D = b; break;
    case 5: s.E = b; break;
    case 6: s.H = b; break;
    case 7: s.L = b; break;
    case 8: s.I = b; break;
    case 9: break;
    case 10: s.IM = b; break;
    case 11: s.AF = w; break;
    case 12: s.BC = w; break;
    case 13: s.DE = w; break;
    case 14: s.HL = w; break;
    case 15: s.IX = w; break;
    case 16: s.IY = w; break;
    case 17: s.SP = w; break;
    case 18: s.PC = w; break;
    case 19: s.AF_ = w; break;
    case 20: s.BC_ = w; break;
    case 21: s.DE_ = w; break;
    case 22: s.HL_ = w; break;
    case 23: s.IFF1 = b; break;
    case 24: s.IFF2 = b; break;
    default:
        if (v)
            SetControlFlags(HALTED);
        else
            ClearControlFlags(HALTED);
    }
}

// ---- Breakpoints --------------------------------------------------------------------------------
//
// The list is changed only by the front end's thread while the processor is held (MachineHold) or
// stands still, and read by the processor's thread in its hook; what the processor changes in it
// (hits, a temporary breakpoint spent) are atomics.

struct Slot {
    bool used = false;
    Breakpoint b;
    int reg = -1;                 // the condition's register index
    uint16_t curline = 0, tp = 0; // a BASIC line breakpoint: where the BASIC keeps them
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

// Symbols: front end's thread only.
std::vector<std::pair<uint16_t, std::string>> SymbolsByAddress; // sorted by address
std::vector<std::pair<std::string, uint16_t>> SymbolsByName;    // sorted by name

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
    const uint32_t v = c.memory ? ReadByte(c.address) : ReadRegister(s.reg);
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
bool Resume(Goal goal) {
    if (!Attached.load(std::memory_order_relaxed) || !ProcessorStandsStill()) return false;
    Run.goal = goal;
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

std::string Hex(uint32_t v, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, v);
    return text;
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
    int reg = -1;
    if (b.condition.active && !b.condition.memory) {
        reg = RegisterIndex(b.condition.reg);
        if (reg < 0) return fail("unknown register in the condition");
    }
    uint16_t curline = 0, tp = 0;
    if (b.basic_line >= 0 &&
        (!DebugSymbolAddress("curline", curline) || !DebugSymbolAddress("tp", tp)))
        return fail("the free BASIC's symbols (curline, tp) are not loaded");
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
    free_slot->reg = reg;
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

std::string DescribeBreakpoint(const Breakpoint& b) {
    std::string text;
    switch (b.kind) {
    case BreakKind::Execute: text = "exec " + Hex(b.address, 4); break;
    case BreakKind::Read: text = "watch r " + Hex(b.address, 4); break;
    case BreakKind::Write: text = "watch w " + Hex(b.address, 4); break;
    case BreakKind::Access: text = "watch rw " + Hex(b.address, 4); break;
    case BreakKind::PortIn: text = "in " + Hex(b.address, 2); break;
    case BreakKind::PortOut: text = "out " + Hex(b.address, 2); break;
    case BreakKind::Interrupt: text = "interrupt"; break;
    case BreakKind::Nmi: text = "nmi"; break;
    }
    if (b.length > 1) text += "+" + std::to_string(b.length);
    if (b.condition.active) {
        static const char* const ops[] = {"==", "!=", "<", "<=", ">", ">="};
        text += " if " +
                (b.condition.memory ? "(" + Hex(b.condition.address, 4) + ")" : b.condition.reg) +
                " " + ops[int(b.condition.op)] + " " + Hex(b.condition.value, 2);
    }
    if (!b.enabled) text += " (off)";
    if (!b.label.empty()) text += " [" + b.label + "]";
    return text;
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
    if (d.flow != FlowKind::Call && d.flow != FlowKind::Restart && d.flow != FlowKind::BlockRepeat)
        return DebugStep(1);
    Run.pc = uint16_t(pc + d.length);
    Run.sp = CpuState.SP;
    return Resume(Goal::StepOver);
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

const std::vector<std::string>& DebugRegisterNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const auto& r : Registers)
            n.push_back(r.name);
        return n;
    }();
    return names;
}

bool DebugReadRegisters(DebugRegisters& r) {
    if (!ProcessorStandsStill()) return false;
    const auto& s = CpuState;
    r = DebugRegisters{
        s.AF, s.BC, s.DE,         s.HL,         s.IX,  s.IY,
        s.SP, s.PC, s.AF_,        s.BC_,        s.DE_, s.HL_,
        s.I,  0,    bool(s.IFF1), bool(s.IFF2), s.IM,  (ReadControlFlags() & HALTED) != 0};
    return true;
}

bool DebugWriteRegisters(const DebugRegisters& r) {
    if (!ProcessorStandsStill() || r.im > 2) return false;
    auto& s = CpuState;
    s.AF = r.af, s.BC = r.bc, s.DE = r.de, s.HL = r.hl, s.IX = r.ix, s.IY = r.iy, s.SP = r.sp;
    s.PC = r.pc, s.AF_ = r.af_, s.BC_ = r.bc_, s.DE_ = r.de_, s.HL_ = r.hl_, s.I = r.i;
    s.IFF1 = r.iff1, s.IFF2 = r.iff2, s.IM = r.im;
    WriteRegister(25, r.halted);
    return true;
}

bool DebugGetRegister(const std::string& name, uint32_t& value) {
    const int i = RegisterIndex(name);
    if (i < 0 || !ProcessorStandsStill()) return false;
    value = ReadRegister(i);
    return true;
}

bool DebugSetRegister(const std::string& name, uint32_t value) {
    const int i = RegisterIndex(name);
    if (i < 0 || value > Registers[i].max || !ProcessorStandsStill()) return false;
    WriteRegister(i, value);
    return true;
}

void DebugReadMemory(uint16_t address, uint8_t* out, size_t length) {
    for (size_t i = 0; i < length; ++i)
        out[i] = ReadMemoryShared(uint16_t(address + i));
}

bool DebugWriteMemory(uint16_t address, const uint8_t* data, size_t length) {
    if (!ProcessorStandsStill()) return false;
    for (size_t i = 0; i < length; ++i)
        WriteByte(uint16_t(address + i), data[i]);
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

namespace {

constexpr off_t MaxSymbolFileSize = 64 << 20; // far more than 65,536 addresses need

bool IsNameChar(char c) { return std::isalnum(uint8_t(c)) || c == '_' || c == '.' || c == '$'; }

// "0x1234", "1234H", "$1234", "4660" (decimal); false for anything else or past 0xFFFF.
bool ParseAddress(std::string t, uint16_t& out) {
    while (!t.empty() && std::isspace(uint8_t(t.back())))
        t.pop_back();
    if (t.empty()) return false;
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t = t.substr(2);
        base = 16;
    } else if (t[0] == '$') {
        t = t.substr(1);
        base = 16;
    } else if (t.back() == 'H' || t.back() == 'h') {
        t.pop_back();
        base = 16;
    }
    if (t.empty() || t.size() > 8) return false;
    uint32_t v = 0;
    for (char c : t) {
        int digit;
        if (std::isdigit(uint8_t(c)))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(uint8_t(c)))
            digit = std::toupper(uint8_t(c)) - 'A' + 10;
        else
            return false;
        v = v * base + digit;
    }
    if (v > 0xFFFF) return false;
    out = uint16_t(v);
    return true;
}

void AddSymbol(const std::string& name, uint16_t address) {
    auto by_name = std::lower_bound(SymbolsByName.begin(), SymbolsByName.end(),
                                    std::make_pair(name, uint16_t(0)),
                                    [](const auto& a, const auto& b) { return a.first < b.first; });
    if (by_name != SymbolsByName.end() && by_name->first == name) {
        const uint16_t old = by_name->second;
        by_name->second = address;
        auto it =
            std::find(SymbolsByAddress.begin(), SymbolsByAddress.end(), std::make_pair(old, name));
        if (it != SymbolsByAddress.end()) SymbolsByAddress.erase(it);
    } else {
        SymbolsByName.insert(by_name, {name, address});
    }
    auto at = std::upper_bound(SymbolsByAddress.begin(), SymbolsByAddress.end(),
                               std::make_pair(address, name));
    SymbolsByAddress.insert(at, {address, name});
}

} // namespace

// A plain file opened for reading as a stream; null for anything else (a FIFO would block).
FILE* OpenPlainText(const std::string& path) {
    const int fd = OpenPlainFileForReading(path.c_str());
    FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (fd >= 0 && !f) close(fd);
    return f;
}

bool DebugLoadSymbols(const std::string& path, SymbolLoadReport* report) {
    SymbolLoadReport r;
    struct stat info;
    FILE* f = nullptr;
    if (stat(path.c_str(), &info) != 0)
        r.error = "cannot read " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        r.error = "cannot read " + path + ": not a plain file";
    else if (info.st_size > MaxSymbolFileSize)
        r.error = "cannot read " + path + ": larger than a symbol file can be";
    else if (!(f = OpenPlainText(path))) // swapped for something else since the stat: refused
        r.error =
            "cannot read " + path + ": " + (errno ? std::strerror(errno) : "not a plain file");
    if (!f) {
        if (report) *report = r;
        return false;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, f)) {
        std::string line = buffer;
        if (line.size() == sizeof buffer - 1 && line.back() != '\n') { // too long: skip it whole
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {
            }
            ++r.skipped;
            continue;
        }
        size_t i = 0;
        while (i < line.size() && std::isspace(uint8_t(line[i])))
            ++i;
        if (i == line.size() || line[i] == ';' || line[i] == '#' || line.compare(i, 2, "//") == 0)
            continue;
        size_t start = i;
        while (i < line.size() && IsNameChar(line[i]))
            ++i;
        const std::string name = line.substr(start, i - start);
        while (i < line.size() && std::isspace(uint8_t(line[i])))
            ++i;
        std::string rest;
        if (i < line.size() && line[i] == '=') {
            rest = line.substr(i + 1);
        } else if (line.size() - i >= 3 && std::toupper(uint8_t(line[i])) == 'E' &&
                   std::toupper(uint8_t(line[i + 1])) == 'Q' &&
                   std::toupper(uint8_t(line[i + 2])) == 'U') {
            rest = line.substr(i + 3);
        } else {
            ++r.skipped;
            continue;
        }
        const size_t comment = rest.find(';');
        if (comment != std::string::npos) rest.resize(comment);
        size_t b = 0;
        while (b < rest.size() && std::isspace(uint8_t(rest[b])))
            ++b;
        uint16_t address;
        if (name.empty() || std::isdigit(uint8_t(name[0])) ||
            !ParseAddress(rest.substr(b), address)) {
            ++r.skipped;
            continue;
        }
        AddSymbol(name, address);
        ++r.loaded;
    }
    std::fclose(f);
    if (report) *report = r;
    return true;
}

void DebugClearSymbols() {
    SymbolsByAddress.clear();
    SymbolsByName.clear();
}

bool DebugLoadRomSymbols(const std::string& folder, SymbolLoadReport* report) {
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    SymbolLoadReport r;
    auto fail = [&](const std::string& why) {
        r.error = why;
        if (report) *report = r;
        return false;
    };
    // The first line names the basic.rom the symbols belong to: "; basic.rom fnv1a 0x12345678".
    std::string sym_path = dir + "basic.rom.sym";
    FILE* sym = OpenPlainText(sym_path);
#ifdef LUNABRIK_SHARE_DIR
    if (!sym) { // a per-user folder holds the images only: the installed symbols, if they fit
        sym_path = std::string(LUNABRIK_SHARE_DIR) + "/basic.rom.sym";
        sym = OpenPlainText(sym_path);
    }
#endif
    if (!sym) return fail("no basic.rom.sym in " + dir);
    unsigned expected = 0;
    const int got = std::fscanf(sym, "; basic.rom fnv1a %x", &expected);
    std::fclose(sym);
    if (got != 1) return fail("basic.rom.sym does not name its basic.rom");
    FILE* rom = OpenPlainText(dir + "basic.rom");
    if (!rom) return fail("no basic.rom in " + dir);
    uint32_t h = 2166136261u; // FNV-1a, as the ROM build computes it
    for (int c; (c = std::fgetc(rom)) != EOF;)
        h = (h ^ uint8_t(c)) * 16777619u;
    std::fclose(rom);
    if (h != expected) return fail("basic.rom is not the free BASIC that basic.rom.sym describes");
    return DebugLoadSymbols(sym_path, report);
}

bool DebugSymbolAddress(const std::string& name, uint16_t& address) {
    auto it = std::lower_bound(SymbolsByName.begin(), SymbolsByName.end(),
                               std::make_pair(name, uint16_t(0)),
                               [](const auto& a, const auto& b) { return a.first < b.first; });
    if (it == SymbolsByName.end() || it->first != name) return false;
    address = it->second;
    return true;
}

std::string DebugSymbolAt(uint16_t address) {
    auto it = std::lower_bound(SymbolsByAddress.begin(), SymbolsByAddress.end(),
                               std::make_pair(address, std::string()));
    if (it == SymbolsByAddress.end() || it->first != address) return {};
    return it->second;
}

std::string DebugSymbolize(uint16_t address) {
    auto it = std::upper_bound(
        SymbolsByAddress.begin(), SymbolsByAddress.end(), address,
        [](uint16_t a, const std::pair<uint16_t, std::string>& s) { return a < s.first; });
    if (it == SymbolsByAddress.begin()) return {};
    --it;
    const uint16_t offset = uint16_t(address - it->first);
    if (offset >= 0x100) return {};
    return offset ? it->second + "+" + Hex(offset, 2) : it->second;
}

size_t DebugSymbolCount() { return SymbolsByAddress.size(); }

// ---- The free BASIC ---------------------------------------------------------------------------

namespace {

// The BASIC's variable tables, found through its symbols: one entry per name A-Z, A0-Z9.
constexpr int BasicNames = 26 * 11;

struct BasicLayout {
    uint16_t curline, nums, ints, strs, arrays, mem, heap_top;
};

bool FindBasic(BasicLayout& l, std::string* error) {
    const char* names[] = {"curline", "nums", "ints", "strs", "arrays", "mem", "heap_top"};
    uint16_t* slots[] = {&l.curline, &l.nums, &l.ints, &l.strs, &l.arrays, &l.mem, &l.heap_top};
    for (int i = 0; i < 7; ++i)
        if (!DebugSymbolAddress(names[i], *slots[i])) {
            if (error)
                *error = std::string("the free BASIC's symbol ") + names[i] +
                         " is not loaded (load basic.rom.sym)";
            return false;
        }
    return true;
}

uint16_t PeekWord(uint16_t a) {
    return uint16_t(ReadMemoryShared(a) | ReadMemoryShared(uint16_t(a + 1)) << 8);
}

std::string BasicName(int v) {
    std::string name(1, char('A' + v / 11));
    if (v % 11) name += char('0' + v % 11 - 1);
    return name;
}

std::string FormatNumber(float f) {
    char text[32];
    if (f == float(int32_t(f)) && f > -1e7f && f < 1e7f)
        std::snprintf(text, sizeof text, "%d", int(f));
    else
        std::snprintf(text, sizeof text, "%.7g", double(f));
    return text;
}

float PeekFloat(uint16_t a) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = bits << 8 | ReadMemoryShared(uint16_t(a + i));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// A string's text as the program would print it, in quotes; codes outside ASCII as \xHH.
std::string QuoteBasicText(uint16_t a, uint8_t length) {
    std::string text = "\"";
    for (int i = 0; i < length; ++i) {
        const uint8_t c = ReadMemoryShared(uint16_t(a + i));
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += char(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            text += esc;
        }
    }
    return text + "\"";
}

} // namespace

int DebugBasicBreak(uint32_t line, std::string* error) {
    if (line < 1 || line > 65535) {
        if (error) *error = "a BASIC line is 1-65535";
        return 0;
    }
    uint16_t statement;
    if (!DebugSymbolAddress("statement", statement)) {
        if (error) *error = "the free BASIC's symbol statement is not loaded (load basic.rom.sym)";
        return 0;
    }
    Breakpoint b;
    b.kind = BreakKind::Execute;
    b.address = statement;
    b.basic_line = int32_t(line);
    b.label = "BASIC line " + std::to_string(line);
    return DebugAddBreakpoint(b, error);
}

int32_t DebugBasicCurrentLine() {
    uint16_t curline;
    if (!DebugSymbolAddress("curline", curline)) return -1;
    const uint16_t line = PeekWord(curline);
    return line ? PeekWord(uint16_t(line + 2)) : -1;
}

bool DebugBasicVariables(std::vector<BasicVariable>& out, std::string* error) {
    out.clear();
    BasicLayout l;
    if (!FindBasic(l, error)) return false;
    const uint16_t heap_top = PeekWord(l.heap_top);
    // A string or an array lies between the program's start and the end of the variables.
    auto inside = [&](uint16_t a, uint32_t n) {
        return a >= l.mem && uint32_t(a) + n <= heap_top && heap_top > l.mem;
    };
    auto damaged = [&](const std::string& name) {
        if (error) *error = "the BASIC's variable " + name + " points outside its memory";
        out.clear();
        return false;
    };
    for (int v = 0; v < BasicNames; ++v) {
        const std::string name = BasicName(v);
        const float f = PeekFloat(uint16_t(l.nums + 4 * v));
        if (f != 0) out.push_back({name, FormatNumber(f)});
        const int16_t i = int16_t(PeekWord(uint16_t(l.ints + 2 * v)));
        if (i) out.push_back({name + "%", std::to_string(i)});
        const uint16_t s = PeekWord(uint16_t(l.strs + 2 * v));
        if (s) {
            // [room][length][text]
            if (!inside(s, 2)) return damaged(name + "$");
            const uint8_t room = ReadMemoryShared(s), length = ReadMemoryShared(uint16_t(s + 1));
            if (length > room || !inside(s, 2u + room)) return damaged(name + "$");
            out.push_back({name + "$", QuoteBasicText(uint16_t(s + 2), length)});
        }
        static const char* const suffix[3] = {"", "%", "$"};
        for (int kind = 0; kind < 3; ++kind) {
            const uint16_t a = PeekWord(uint16_t(l.arrays + 2 * (kind * BasicNames + v)));
            if (!a) continue;
            const std::string array = name + suffix[kind] + "()";
            // [n1 (2)][n2 (2)][room] then n1 * n2 elements
            if (!inside(a, 5)) return damaged(array);
            const uint16_t n1 = PeekWord(a), n2 = PeekWord(uint16_t(a + 2));
            const uint8_t room = ReadMemoryShared(uint16_t(a + 4));
            const uint32_t size = kind == 0 ? 4 : kind == 1 ? 2 : room + 1u;
            if (!n1 || !n2 || !inside(a, 5 + uint32_t(n1) * n2 * size)) return damaged(array);
            std::string value = "(" + std::to_string(n1 - 1);
            if (n2 > 1) value += "," + std::to_string(n2 - 1);
            value += "):";
            const uint32_t shown = std::min<uint32_t>(uint32_t(n1) * n2, 8);
            for (uint32_t e = 0; e < shown; ++e) {
                const uint16_t at = uint16_t(a + 5 + e * size);
                value += e ? ", " : " ";
                if (kind == 0)
                    value += FormatNumber(PeekFloat(at));
                else if (kind == 1)
                    value += std::to_string(int16_t(PeekWord(at)));
                else
                    value += QuoteBasicText(uint16_t(at + 1), std::min(ReadMemoryShared(at), room));
            }
            if (uint32_t(n1) * n2 > shown) value += ", ...";
            out.push_back({array, value});
        }
    }
    return true;
}
