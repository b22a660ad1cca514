// Whole-program benchmark of the processor loop. The workload (workload.asm) runs on our loop
// exactly as the program runs it, ProcessorThreadBody on its own thread with waitstates 0 and
// ControlFlags polled at every step, and on libz80ex as the yardstick, in the same process and
// interleaved round by round. Both must leave the same results; the report gives each round's wall
// time (and the thread's processor time, which shows the cost when other work shares the cores),
// both wall-time medians in millions of instructions per second and the ratio.
//
// Usage: lunabrik_cpu_bench [--rounds N] [--passes N] [--check]
//   --rounds N  timed rounds of each (default 5, at least 1)
//   --passes N  workload passes, patched into the image (default: the image's own count)
//   --check     only the untimed runs that check the results (the test suite runs this)
// Exit status: 0 when the results check out and ours runs at least 4 times as fast (or --check);
// 1 when the results are wrong or a run does not halt; 2 when only the speed goal is missed.

#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/settings.h"
#include "workload_image.h"

#include <z80ex/z80ex.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <thread>
#include <vector>

namespace {

// Where the workload keeps its pass count and leaves its results.
constexpr uint16_t PassCountAddress = 0x0003;
constexpr uint16_t ChecksumAddress = 0x8000;
constexpr uint16_t ErrorsAddress = 0x8002;
constexpr uint16_t PrimesAddress = 0x8004;
constexpr uint16_t CrcAddress = 0x8006;
constexpr uint16_t PassesAddress = 0x8008;
constexpr uint16_t BcdPassesAddress = 0x800A;
// The sieve's flags stand for the odd numbers 3 .. 2 * SieveFlags + 1; the CRC covers
// 0x0000-0x00FF.
constexpr int SieveFlags = 2048;
constexpr int CrcBytes = 256;

constexpr double SpeedGoal = 4.0;
// A run that has not halted by then is taken as broken.
constexpr double RunTimeLimitSeconds = 300.0;

using Clock = std::chrono::steady_clock;

uint8_t Image[MemorySize]; // the workload with its pass count, zero elsewhere

struct Results {
    uint16_t checksum, errors, primes, crc, passes, bcd_passes;
    bool operator==(const Results&) const = default;
};

uint16_t Word(const uint8_t* memory, uint16_t address) {
    return uint16_t(memory[address] | memory[address + 1] << 8);
}

Results ReadResults(const uint8_t* memory) {
    return {Word(memory, ChecksumAddress), Word(memory, ErrorsAddress),
            Word(memory, PrimesAddress),   Word(memory, CrcAddress),
            Word(memory, PassesAddress),   Word(memory, BcdPassesAddress)};
}

// What the workload's kernels must come to, computed here independently of both interpreters.
// The checksum folds every kernel of every pass; only the two interpreters can compare it.
Results ExpectedResults(unsigned passes) {
    Results r{};
    std::vector<bool> composite(2 * SieveFlags + 2);
    for (int n = 3; n <= 2 * SieveFlags + 1; n += 2) {
        if (composite[n]) continue;
        ++r.primes;
        for (int m = 3 * n; m <= 2 * SieveFlags + 1; m += 2 * n)
            composite[m] = true;
    }
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < CrcBytes; ++i) {
        crc ^= uint16_t(Image[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = uint16_t(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    r.crc = crc;
    r.passes = uint16_t(passes);
    unsigned bcd = passes % 10000;
    r.bcd_passes = uint16_t(bcd / 1000 << 12 | bcd / 100 % 10 << 8 | bcd / 10 % 10 << 4 | bcd % 10);
    return r;
}

// ---- Ours ----

void LoadOurs() {
    ControlFlags.store(0);
    std::memcpy(MachineMemory, Image, MemorySize);
    CpuState = {};
    ProcessorReset();
    SetWaitstates(0);
}

bool IsBlockOpcode(uint8_t op) { // LDIR CPIR INIR OTIR LDDR CPDR INDR OTDR
    return (op & 0xF4) == 0xB0;
}

// Untimed: steps ExecuteInstruction() until HALT, counting one per instruction and one per
// repetition of a repeating block instruction (the BC it used up), as an interpreter that steps
// repetitions would. Returns 0 when no HALT came within limit instructions.
uint64_t CountOurs(uint64_t limit) {
    LoadOurs();
    uint64_t count = 0;
    while (!(ReadControlFlags() & HALTED)) {
        if (count > limit) return 0;
        uint16_t pc = CpuState.PC;
        bool block = ReadByte(pc) == 0xED && IsBlockOpcode(ReadByte(uint16_t(pc + 1)));
        uint16_t bc = CpuState.BC;
        ExecuteInstruction();
        count += block ? ((bc - CpuState.BC - 1) & 0xFFFF) + 1 : 1;
    }
    return count;
}

// Wall time of a run and the processor time its thread used: on a shared machine the second
// shows what the interpreter costs when other work takes turns on the same core.
struct Timing {
    double wall = -1, cpu = -1;
};

double ThreadSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Runs the workload as the program does: times from starting the thread until HALTED is seen.
// wall stays negative when the run does not halt in time.
Timing TimeOurs() {
    LoadOurs();
    Timing timing;
    Clock::time_point start = Clock::now();
    std::thread processor([] { ProcessorThreadBody(nullptr); });
    clockid_t clock;
    bool have_clock = pthread_getcpuclockid(processor.native_handle(), &clock) == 0;
    for (;;) {
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (ReadControlFlags() & HALTED) {
            timing.wall = elapsed;
            if (have_clock) timing.cpu = ThreadSeconds(clock);
            break;
        }
        if (elapsed > RunTimeLimitSeconds) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    SetControlFlags(QUIT);
    processor.join();
    return timing;
}

// ---- The yardstick ----

uint8_t Z80exMemory[MemorySize];

Z80EX_BYTE Z80exRead(Z80EX_CONTEXT*, Z80EX_WORD address, int, void*) {
    return Z80exMemory[address];
}
void Z80exWrite(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void*) {
    Z80exMemory[address] = value;
}
Z80EX_BYTE Z80exPortRead(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0xFF; }
void Z80exPortWrite(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE Z80exVector(Z80EX_CONTEXT*, void*) { return 0xFF; }

void LoadZ80ex(Z80EX_CONTEXT* cpu) {
    std::memcpy(Z80exMemory, Image, MemorySize);
    z80ex_reset(cpu);
}

// Untimed: z80ex steps prefixes and each repetition of a block instruction separately; a step
// that ends an instruction reports op type 0. Returns 0 when no HALT came within limit.
uint64_t CountZ80ex(Z80EX_CONTEXT* cpu, uint64_t limit) {
    LoadZ80ex(cpu);
    uint64_t count = 0;
    while (!z80ex_doing_halt(cpu)) {
        if (count > limit) return 0;
        z80ex_step(cpu);
        if (z80ex_last_op_type(cpu) == 0) ++count;
    }
    return count;
}

Timing TimeZ80ex(Z80EX_CONTEXT* cpu) {
    LoadZ80ex(cpu);
    double cpu_start = ThreadSeconds(CLOCK_THREAD_CPUTIME_ID);
    Clock::time_point start = Clock::now();
    do {
        z80ex_step(cpu);
    } while (!z80ex_doing_halt(cpu));
    Timing timing;
    timing.wall = std::chrono::duration<double>(Clock::now() - start).count();
    timing.cpu = ThreadSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start;
    return timing;
}

// ---- Report ----

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void PrintResults(const char* who, const Results& r) {
    std::printf("  %-9s checksum 0x%04X  errors %u  primes %u  crc 0x%04X  passes %u  bcd %04X\n",
                who, r.checksum, r.errors, r.primes, r.crc, r.passes, r.bcd_passes);
}

long ParseCount(const char* text, const char* option) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 1 || value > 65535) {
        std::fprintf(stderr, "%s needs a count from 1 to 65535, not '%s'\n", option, text);
        std::exit(1);
    }
    return value;
}

} // namespace

int main(int argc, char** argv) {
    long rounds = 5;
    bool check_only = false;
    long passes = WorkloadImage[PassCountAddress] | WorkloadImage[PassCountAddress + 1] << 8;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = ParseCount(argv[++i], "--rounds");
        } else if (!std::strcmp(argv[i], "--passes") && i + 1 < argc) {
            passes = ParseCount(argv[++i], "--passes");
        } else if (!std::strcmp(argv[i], "--check")) {
            check_only = true;
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N] [--passes N] [--check]\n", argv[0]);
            return 1;
        }
    }
    std::memcpy(Image, WorkloadImage, sizeof WorkloadImage);
    Image[PassCountAddress] = uint8_t(passes);
    Image[PassCountAddress + 1] = uint8_t(passes >> 8);

    if (check_only)
        std::printf("processor loop check: %ld passes, untimed\n", passes);
    else
        std::printf("processor loop benchmark: %ld passes, %ld rounds\n", passes, rounds);
    std::printf("compiler: g++ %s, flags: %s\n", __VERSION__, LUNABRIK_BUILD_FLAGS);

    Z80EX_CONTEXT* cpu = z80ex_create(Z80exRead, nullptr, Z80exWrite, nullptr, Z80exPortRead,
                                      nullptr, Z80exPortWrite, nullptr, Z80exVector, nullptr);
    const Results expected = ExpectedResults(unsigned(passes));

    // Untimed counting passes; the counts must agree and both must leave the expected results.
    uint64_t reference_count = CountZ80ex(cpu, uint64_t(passes) * 1000000);
    Results reference = ReadResults(Z80exMemory);
    uint64_t count = reference_count ? CountOurs(reference_count + reference_count / 2) : 0;
    Results ours = ReadResults(MachineMemory);
    std::printf("results after one run each (expected: errors 0, primes %u, crc 0x%04X, "
                "passes %u, bcd %04X):\n",
                expected.primes, expected.crc, expected.passes, expected.bcd_passes);
    PrintResults("z80ex", reference);
    PrintResults("ours", ours);
    Results reference_kernels = reference, ours_kernels = ours;
    reference_kernels.checksum = ours_kernels.checksum = expected.checksum;
    bool ok = true;
    if (!reference_count || !(reference_kernels == expected)) {
        std::printf("FAIL: the yardstick did not run the workload as expected\n");
        ok = false;
    }
    if (!count) {
        std::printf("FAIL: our processor did not reach the HALT\n");
        ok = false;
    } else if (!(ours_kernels == expected) || ours.checksum != reference.checksum) {
        std::printf("FAIL: our results differ from the expected ones or from the yardstick's\n");
        ok = false;
    }
    if (count && count != reference_count) {
        std::printf("FAIL: instruction counts differ: ours %llu, z80ex %llu\n",
                    (unsigned long long)count, (unsigned long long)reference_count);
        ok = false;
    }
    if (!ok) {
        z80ex_destroy(cpu);
        return 1;
    }
    std::printf("instructions: %llu (counted by stepping ExecuteInstruction, block repetitions "
                "from BC; z80ex's own step count agrees)\n",
                (unsigned long long)count);
    if (check_only) {
        z80ex_destroy(cpu);
        return 0;
    }

    std::vector<double> ours_wall, ours_cpu, reference_wall, reference_cpu;
    for (long r = 0; r < rounds; ++r) {
        Timing a = TimeOurs();
        Results after = ReadResults(MachineMemory);
        Timing b = TimeZ80ex(cpu);
        Results reference_after = ReadResults(Z80exMemory);
        if (a.wall < 0 || !(after == ours) || !(reference_after == reference)) {
            std::printf("FAIL: round %ld: %s\n", r + 1,
                        a.wall < 0 ? "the processor thread did not halt in time"
                                   : "the results differ from the counting run");
            z80ex_destroy(cpu);
            return 1;
        }
        ours_wall.push_back(a.wall);
        ours_cpu.push_back(a.cpu);
        reference_wall.push_back(b.wall);
        reference_cpu.push_back(b.cpu);
        std::printf("round %ld: ours %.3f s (cpu %.3f s) %6.1f M/s   z80ex %.3f s (cpu %.3f s) "
                    "%6.1f M/s\n",
                    r + 1, a.wall, a.cpu, count / a.wall / 1e6, b.wall, b.cpu,
                    count / b.wall / 1e6);
    }
    z80ex_destroy(cpu);

    double ours_rate = count / Median(ours_wall) / 1e6;
    double reference_rate = count / Median(reference_wall) / 1e6;
    double ratio = ours_rate / reference_rate;
    double cpu_ratio = Median(reference_cpu) / Median(ours_cpu);
    bool fast = ratio >= SpeedGoal;
    std::printf("median: ours %.1f M instructions/s, z80ex %.1f M instructions/s, "
                "ours/z80ex %.2f (by thread cpu time %.2f); goal >= %.0f: %s\n",
                ours_rate, reference_rate, ratio, cpu_ratio, SpeedGoal, fast ? "met" : "MISSED");
    return fast ? 0 : 2;
}
