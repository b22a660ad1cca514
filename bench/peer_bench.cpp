// Whole-program comparison of our processor loop with z80emu, a generic Z80 interpreter the user
// supplies (bench/peer_z80emu.sh builds this program with it). Both workloads of cpu_bench run on
// our loop exactly as the program runs it (ProcessorThreadBody on its own thread, waitstates 0,
// ControlFlags polled at every step, the debugger compiled in) and on the interpreter in its
// fastest use: a flat 64 KB array read in place and one call that runs until the HALT. The
// interpreter is built twice, computing every flag as it ships and computing only the documented
// flags (its faster setting, and like our loop); the rounds alternate ours and both of its.
//
// Before timing, an untimed run of each checks that all three end alike: the same memory, the
// same registers (F without its undocumented bits 3 and 5), the same instruction count (the
// interpreter stepped one instruction a call, a repetition of LDIR and the like counting as one,
// as ours counts them) and the same T-states. Each timed round must leave that memory again.
//
// Usage: lunabrik_peer_bench [--workload basic|prefixed|all] [--rounds N] [--passes N] [--check]
// Exit status: 0 when the results check out and ours runs at least 1.2 times the faster build of
// the interpreter on every workload; 1 when a result differs or a run does not halt; 2 when only
// the speed goal is missed.

#include "bench_support.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "workload_image.h"
#include "workload_prefixed_image.h"
#include "z80emu.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

extern "C" {
unsigned char PeerMemory[0x10000];
void PeerFReset(Z80_STATE* state);
int PeerFEmulate(Z80_STATE* state, int number_cycles, void* context);
void PeerDReset(Z80_STATE* state);
int PeerDEmulate(Z80_STATE* state, int number_cycles, void* context);
}

namespace {

constexpr uint16_t PassCountAddress = 0x0003;
constexpr double RunTimeLimitSeconds = 300.0;
constexpr double Goal = 1.2; // ours / the faster interpreter build, at least

using namespace bench;

struct Workload {
    const char* name;
    const uint8_t* image;
    size_t size;
};
const Workload Workloads[] = {
    {"basic", WorkloadImage, sizeof WorkloadImage},
    {"prefixed", PrefixedWorkloadImage, sizeof PrefixedWorkloadImage},
};

struct Peer {
    const char* name;
    void (*reset)(Z80_STATE*);
    int (*emulate)(Z80_STATE*, int, void*);
};
const Peer Peers[] = {
    {"z80emu", PeerFReset, PeerFEmulate},
    {"z80emu-doc", PeerDReset, PeerDEmulate},
};
constexpr int PeerCount = sizeof Peers / sizeof Peers[0];

uint8_t Image[MemorySize]; // the workload being run, with its pass count, zero elsewhere

// What a run leaves: registers (F without bits 3 and 5), memory, instructions and T-states.
struct Outcome {
    uint16_t regs[12] = {};
    std::vector<uint8_t> memory;
    uint64_t instructions = 0, tstates = 0;
};
const char* const RegisterNames[12] = {"AF", "BC", "DE",  "HL",  "IX",  "IY",
                                       "SP", "PC", "AF'", "BC'", "DE'", "HL'"};

// ---- Ours ----

Outcome OursOutcome() {
    Outcome o;
    const CpuRegisters& s = CpuState;
    const uint16_t regs[12] = {uint16_t(s.AF & 0xFFD7),  s.BC,  s.DE,  s.HL, s.IX, s.IY, s.SP, s.PC,
                               uint16_t(s.AF_ & 0xFFD7), s.BC_, s.DE_, s.HL_};
    std::copy(regs, regs + 12, o.regs);
    o.memory.assign(MachineMemory, MachineMemory + MemorySize);
    return o;
}

// Untimed: steps ExecuteInstruction() until HALT, counting each repetition of a repeating block
// instruction (LDIR .. OTDR: ED 1x11 0xxx) as one instruction.
Outcome CountOurs(uint64_t limit) {
    LoadOurs(Image);
    uint64_t n = 0, t = 0;
    while (!(ReadControlFlags() & HALTED)) {
        if (n > limit) return {};
        const Stepped step = StepCounted();
        n += step.instructions;
        t += step.tstates;
    }
    Outcome o = OursOutcome();
    o.instructions = n;
    o.tstates = t;
    return o;
}

// ---- The interpreter ----

Z80_STATE PeerState;

// Its reset, then our reset's registers, so that both start alike.
void LoadPeer(const Peer& p) {
    std::memcpy(PeerMemory, Image, sizeof PeerMemory);
    PeerState = {};
    p.reset(&PeerState);
    CpuState = {};
    ProcessorReset();
    auto& w = PeerState.registers.word;
    w[Z80_AF] = CpuState.AF;
    w[Z80_BC] = CpuState.BC;
    w[Z80_DE] = CpuState.DE;
    w[Z80_HL] = CpuState.HL;
    w[Z80_IX] = CpuState.IX;
    w[Z80_IY] = CpuState.IY;
    w[Z80_SP] = CpuState.SP;
    PeerState.pc = CpuState.PC;
}

Outcome PeerOutcome() {
    Outcome o;
    const auto& w = PeerState.registers.word;
    const uint16_t* alt = PeerState.alternates;
    const uint16_t regs[12] = {uint16_t(w[Z80_AF] & 0xFFD7),
                               w[Z80_BC],
                               w[Z80_DE],
                               w[Z80_HL],
                               w[Z80_IX],
                               w[Z80_IY],
                               w[Z80_SP],
                               uint16_t(PeerState.pc),
                               uint16_t(alt[Z80_AF] & 0xFFD7),
                               alt[Z80_BC],
                               alt[Z80_DE],
                               alt[Z80_HL]};
    std::copy(regs, regs + 12, o.regs);
    o.memory.assign(PeerMemory, PeerMemory + sizeof PeerMemory);
    return o;
}

// Untimed: asked for one cycle, the interpreter runs one instruction (one repetition of a block
// instruction) and returns its T-states.
Outcome CountPeer(const Peer& p, uint64_t limit) {
    LoadPeer(p);
    uint64_t n = 0, t = 0;
    do {
        if (n > limit) return {};
        t += uint64_t(p.emulate(&PeerState, 1, nullptr));
        ++n;
    } while (!(PeerState.status & Z80_STATUS_FLAG_HALT));
    Outcome o = PeerOutcome();
    o.instructions = n;
    o.tstates = t;
    return o;
}

// Its fastest use: calls of a billion cycles until the HALT stops it.
[[gnu::noinline]] Timing TimePeer(const Peer& p) {
    LoadPeer(p);
    double cpu_start = ThreadSeconds(CLOCK_THREAD_CPUTIME_ID);
    Clock::time_point start = Clock::now();
    do {
        p.emulate(&PeerState, 1 << 30, nullptr);
    } while (!(PeerState.status & Z80_STATUS_FLAG_HALT));
    Timing timing;
    timing.wall = std::chrono::duration<double>(Clock::now() - start).count();
    timing.cpu = ThreadSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start;
    return timing;
}

// ---- Report ----

// Prints every difference of b from a; true when there is none.
bool Same(const char* who, const Outcome& a, const Outcome& b) {
    bool same = true;
    for (int r = 0; r < 12; ++r)
        if (a.regs[r] != b.regs[r]) {
            std::printf("FAIL: %s: %s 0x%04X, ours 0x%04X\n", who, RegisterNames[r], b.regs[r],
                        a.regs[r]);
            same = false;
        }
    for (size_t i = 0; i < a.memory.size(); ++i)
        if (a.memory[i] != b.memory[i]) {
            std::printf("FAIL: %s: memory differs first at 0x%04zX\n", who, i);
            same = false;
            break;
        }
    if (a.instructions != b.instructions || a.tstates != b.tstates) {
        std::printf("FAIL: %s: %llu instructions, %llu T-states; ours %llu, %llu\n", who,
                    (unsigned long long)b.instructions, (unsigned long long)b.tstates,
                    (unsigned long long)a.instructions, (unsigned long long)a.tstates);
        same = false;
    }
    return same;
}

// Checks and (unless check_only) times one workload. Returns 0, 1 or 2 as the exit status.
int RunWorkload(const Workload& w, long passes_option, long rounds, bool check_only) {
    long passes = passes_option ? passes_option
                                : w.image[PassCountAddress] | w.image[PassCountAddress + 1] << 8;
    std::memset(Image, 0, sizeof Image);
    std::memcpy(Image, w.image, w.size);
    Image[PassCountAddress] = uint8_t(passes);
    Image[PassCountAddress + 1] = uint8_t(passes >> 8);
    std::printf("\n== workload %s: %ld passes%s\n", w.name, passes, check_only ? ", untimed" : "");

    const Outcome ours = CountOurs(uint64_t(passes) * 2000000);
    if (!ours.instructions) {
        std::printf("FAIL: our processor did not reach the HALT\n");
        return 1;
    }
    bool ok = true;
    for (const Peer& p : Peers) {
        Outcome theirs = CountPeer(p, ours.instructions + ours.instructions / 2);
        if (!theirs.instructions) {
            std::printf("FAIL: %s did not reach the HALT\n", p.name);
            ok = false;
        } else {
            ok = Same(p.name, ours, theirs) && ok;
        }
    }
    if (!ok) return 1;
    std::printf("instructions: %llu, T-states: %llu; registers and memory alike in all three\n",
                (unsigned long long)ours.instructions, (unsigned long long)ours.tstates);
    if (check_only) return 0;

    const double count = double(ours.instructions);
    std::vector<double> wall[1 + PeerCount], cpu[1 + PeerCount];
    for (long r = 0; r < rounds; ++r) {
        Timing t[1 + PeerCount];
        t[0] = TimeOurs(Image, RunTimeLimitSeconds);
        bool same = std::equal(ours.memory.begin(), ours.memory.end(), MachineMemory);
        for (int k = 0; k < PeerCount; ++k) {
            t[1 + k] = TimePeer(Peers[k]);
            same = same && std::equal(ours.memory.begin(), ours.memory.end(), PeerMemory);
        }
        if (t[0].wall < 0 || !same) {
            std::printf("FAIL: round %ld: %s\n", r + 1,
                        t[0].wall < 0 ? "our processor thread did not halt in time"
                                      : "the memory differs from the untimed run's");
            return 1;
        }
        std::printf("round %ld: ours %6.1f M/s", r + 1, count / t[0].wall / 1e6);
        for (int k = 0; k < 1 + PeerCount; ++k) {
            wall[k].push_back(t[k].wall);
            cpu[k].push_back(t[k].cpu);
            if (k) std::printf("   %s %6.1f M/s", Peers[k - 1].name, count / t[k].wall / 1e6);
        }
        std::printf("\n");
    }
    const double ours_rate = count / Median(wall[0]) / 1e6;
    double worst = 1e300;
    std::printf("median %s: ours %.1f M instructions/s\n", w.name, ours_rate);
    for (int k = 1; k < 1 + PeerCount; ++k) {
        double rate = count / Median(wall[k]) / 1e6;
        double ratio = ours_rate / rate;
        worst = std::min(worst, ratio);
        std::printf("  %-11s %.1f M instructions/s, ours/%s %.2f (by thread cpu time %.2f)\n",
                    Peers[k - 1].name, rate, Peers[k - 1].name, ratio,
                    Median(cpu[k]) / Median(cpu[0]));
    }
    bool fast = worst >= Goal;
    std::printf("  goal ours >= %.1f x the faster: %.2f, %s\n", Goal, worst,
                fast ? "met" : "MISSED");
    return fast ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    long rounds = 5, passes = 0;
    bool check_only = false;
    std::string which = "all";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = ParseCount(argv[++i], "--rounds");
        } else if (!std::strcmp(argv[i], "--passes") && i + 1 < argc) {
            passes = ParseCount(argv[++i], "--passes");
        } else if (!std::strcmp(argv[i], "--workload") && i + 1 < argc) {
            which = argv[++i];
        } else if (!std::strcmp(argv[i], "--check")) {
            check_only = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--workload basic|prefixed|all] [--rounds N] [--passes N] "
                         "[--check]\n",
                         argv[0]);
            return 1;
        }
    }
    std::printf("processor loop against z80emu %s: %ld rounds\n",
                check_only ? "check" : "benchmark", rounds);
    std::printf("compiler: g++ %s, flags (ours and z80emu's): %s\n", __VERSION__,
                LUNABRIK_BUILD_FLAGS);
    int status = 0;
    bool any = false;
    for (const Workload& w : Workloads) {
        if (which != "all" && which != w.name) continue;
        any = true;
        status = std::max(status, RunWorkload(w, passes, rounds, check_only));
        if (status == 1) break;
    }
    if (!any) {
        std::fprintf(stderr, "no workload named '%s'\n", which.c_str());
        status = 1;
    }
    return status;
}
