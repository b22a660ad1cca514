// What the debugger costs the processor loop, side by side in one run: the two benchmark workloads
// run on ProcessorThreadBody (waitstates 0) detached, attached with execution breakpoints set
// (at addresses the workload never reaches, so they cost their check but never stop it), and
// attached with a memory watch (every instruction through the checked tables). Rounds interleave
// the three, so a busy machine slows them alike; the report gives each one's median in millions
// of instructions per second and its slowdown against detached. Every variant must leave the same
// checksum and instruction count as detached: the debugger changes nothing it does not stop.
//
// Usage: lunabrik_debugger_bench [--rounds N] [--passes N]
//   --passes N  workload passes (default: a tenth of the image's own count, at least 1)
// Exit status: 0 when the results agree and neither breakpoints nor the watch slow the loop by more
// than 3x; 1 when a result differs or a run does not halt; 2 when only the 3x goal is missed. The
// last lines, "debugger: ...", sum it up for bench/run.sh.
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "system/debugger.h"
#include "workload_image.h"
#include "workload_prefixed_image.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double GoalSlowdown = 3.0;
constexpr double RunTimeLimitSeconds = 600;

enum class Variant { Detached, Breakpoints, Watch };
const char* const VariantNames[] = {"detached", "8 breakpoints", "memory watch"};

struct Result {
    double seconds = -1;
    uint64_t instructions = 0;
    uint16_t checksum = 0;
};

Result RunOnce(const uint8_t* image, size_t size, unsigned passes, Variant v) {
    std::memset(MachineMemory, 0, MemorySize);
    std::memcpy(MachineMemory, image, size);
    if (!passes) passes = std::max(1, (image[3] | image[4] << 8) / 10);
    MachineMemory[3] = uint8_t(passes);
    MachineMemory[4] = uint8_t(passes >> 8);
    CpuState = CpuRegisters{};
    ControlFlags.store(0);
    SetPaceOverride(0);
    if (v != Variant::Detached) {
        DebugAttach();
        Breakpoint b;
        if (v == Variant::Breakpoints) {
            for (uint16_t a = 0xFF00; a < 0xFF08; ++a) {
                b.address = a;
                DebugAddBreakpoint(b);
            }
        } else {
            b.kind = BreakKind::Write;
            b.address = 0xFF00;
            DebugAddBreakpoint(b);
        }
    }
    const uint64_t before = ReadProcessorCounts().instructions;
    Result r;
    const auto start = Clock::now();
    std::thread processor([] { ProcessorThreadBody(nullptr); });
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (ReadControlFlags() & HALTED) {
            r.seconds = elapsed;
            break;
        }
        if (elapsed > RunTimeLimitSeconds) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    SetControlFlags(QUIT);
    processor.join();
    DebugDetach();
    r.instructions = ReadProcessorCounts().instructions - before;
    r.checksum = uint16_t(MachineMemory[0x8000] | MachineMemory[0x8001] << 8);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    unsigned passes = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--passes" && i + 1 < argc)
            passes = unsigned(std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: lunabrik_debugger_bench [--rounds N] [--passes N]\n");
            return 1;
        }
    }
    struct Workload {
        const char* name;
        const uint8_t* image;
        size_t size;
    } const workloads[] = {{"basic", WorkloadImage, sizeof WorkloadImage},
                           {"prefixed", PrefixedWorkloadImage, sizeof PrefixedWorkloadImage}};
    int status = 0;
    std::string summary;
    for (const auto& w : workloads) {
        std::vector<double> mips[3];
        Result first[3];
        for (int round = 0; round < rounds; ++round)
            for (int v = 0; v < 3; ++v) {
                const Result r = RunOnce(w.image, w.size, passes, Variant(v));
                if (r.seconds < 0) {
                    std::printf("%s, %s: did not halt\n", w.name, VariantNames[v]);
                    return 1;
                }
                if (round == 0) first[v] = r;
                if (r.instructions != first[0].instructions || r.checksum != first[0].checksum) {
                    std::printf("%s, %s: %llu instructions, checksum %04X; detached %llu, %04X\n",
                                w.name, VariantNames[v], (unsigned long long)r.instructions,
                                r.checksum, (unsigned long long)first[0].instructions,
                                first[0].checksum);
                    return 1;
                }
                mips[v].push_back(double(r.instructions) / r.seconds / 1e6);
            }
        std::printf("%s workload, %llu instructions, median of %d rounds:\n", w.name,
                    (unsigned long long)first[0].instructions, rounds);
        const double base = Median(mips[0]);
        for (int v = 0; v < 3; ++v) {
            const double m = Median(mips[v]);
            std::printf("  %-14s %8.1f MIPS  %5.2fx slower\n", VariantNames[v], m, base / m);
        }
        const double worst = std::max(base / Median(mips[1]), base / Median(mips[2]));
        const bool met = worst <= GoalSlowdown;
        if (!met) status = 2;
        char line[200];
        std::snprintf(line, sizeof line,
                      "debugger: %s workload, breakpoints %.2fx, watch %.2fx slower than detached "
                      "(%.0f MIPS); goal <= %.0fx: %s\n",
                      w.name, base / Median(mips[1]), base / Median(mips[2]), base, GoalSlowdown,
                      met ? "met" : "MISSED");
        summary += line;
    }
    std::fputs(summary.c_str(), stdout);
    return status;
}
