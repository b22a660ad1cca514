// Whole-program benchmark of the processor loop. Two workloads (workload.asm, mostly unprefixed;
// workload_prefixed.asm, a BASIC interpreter's mix with about a fifth prefixed instructions) run
// on our loop exactly as the program runs it, ProcessorThreadBody on its own thread with
// waitstates 0 and ControlFlags polled at every step, and on libz80ex as the yardstick, in the
// same process and interleaved round by round. Both must leave the same results, the same
// instruction count and the same T-states; the report gives each round's wall time (and the
// thread's processor time, which shows the cost when other work shares the cores), both wall-time
// medians in millions of instructions per second and the ratio. --families adds the cost of one
// instruction of each family (small loops of one kind of instruction), ours beside libz80ex's.
//
// Usage: lunabrik_cpu_bench [--workload basic|prefixed|all] [--rounds N] [--passes N] [--check]
//                           [--families]
//   --workload W  which workload (default all)
//   --rounds N    timed rounds of each (default 5, at least 1)
//   --passes N    workload passes, patched into the image (default: the image's own count)
//   --check       only the untimed runs that check the results (the test suite runs this)
//   --families    also time the instruction families
// Exit status: 0 when the results check out and ours meets every speed goal (or --check); 1 when
// the results are wrong or a run does not halt; 2 when only a speed goal is missed.

#include "bench_support.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "workload_image.h"
#include "workload_prefixed_image.h"

#include <z80ex/z80ex.h>

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

namespace {

// Where a workload keeps its pass count.
constexpr uint16_t PassCountAddress = 0x0003;
// A run that has not halted by then is taken as broken.
constexpr double RunTimeLimitSeconds = 300.0;

using namespace bench;

// One result word a workload leaves, and its value when it can be computed here independently of
// both interpreters (known false: only the two interpreters can compare it).
struct Field {
    const char* name;
    uint16_t address;
    bool known;
    uint16_t expected;
};

struct Workload {
    const char* name;
    const uint8_t* image;
    size_t size;
    double goal; // ours / libz80ex at least
    std::vector<Field> (*fields)(const uint8_t* image, unsigned passes);
};

uint16_t Crc16(const uint8_t* bytes, int n) {
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= uint16_t(bytes[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = uint16_t(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

// workload.asm: the sieve's flags stand for the odd numbers 3 .. 4097; the CRC covers
// 0x0000-0x00FF.
std::vector<Field> BasicFields(const uint8_t* image, unsigned passes) {
    constexpr int SieveFlags = 2048;
    std::vector<bool> composite(2 * SieveFlags + 2);
    uint16_t primes = 0;
    for (int n = 3; n <= 2 * SieveFlags + 1; n += 2) {
        if (composite[n]) continue;
        ++primes;
        for (int m = 3 * n; m <= 2 * SieveFlags + 1; m += 2 * n)
            composite[m] = true;
    }
    unsigned bcd = passes % 10000;
    uint16_t bcd_passes =
        uint16_t(bcd / 1000 << 12 | bcd / 100 % 10 << 8 | bcd / 10 % 10 << 4 | bcd % 10);
    return {{"checksum", 0x8000, false, 0},
            {"errors", 0x8002, true, 0},
            {"primes", 0x8004, true, primes},
            {"crc", 0x8006, true, Crc16(image, 256)},
            {"passes", 0x8008, true, uint16_t(passes)},
            {"bcd", 0x800A, true, bcd_passes}};
}

// workload_prefixed.asm
std::vector<Field> PrefixedFields(const uint8_t* image, unsigned passes) {
    return {{"checksum", 0x8000, false, 0},
            {"errors", 0x8002, true, 0},
            {"crc", 0x8004, true, Crc16(image, 40)},
            {"passes", 0x8006, true, uint16_t(passes)},
            {"flagged", 0x8008, false, 0}};
}

const Workload Workloads[] = {
    {"basic", WorkloadImage, sizeof WorkloadImage, 4.0, BasicFields},
    {"prefixed", PrefixedWorkloadImage, sizeof PrefixedWorkloadImage, 3.9, PrefixedFields},
};

uint8_t Image[MemorySize]; // the workload being run, with its pass count, zero elsewhere

uint16_t Word(const uint8_t* memory, uint16_t address) {
    return uint16_t(memory[address] | memory[address + 1] << 8);
}

// ---- Ours ----

// What an untimed run counted: instructions (one per repetition of a repeating block
// instruction, as an interpreter that steps repetitions counts them), T-states, and instructions
// by prefix: none, CB, DD/FD, ED, DD CB / FD CB.
struct Count {
    uint64_t instructions = 0, tstates = 0;
    uint64_t by_prefix[5] = {};
};

int PrefixClass(uint16_t pc) {
    uint8_t op = ReadByte(pc);
    if (op == 0xCB) return 1;
    if (op == 0xED) return 3;
    if (op == 0xDD || op == 0xFD) return ReadByte(uint16_t(pc + 1)) == 0xCB ? 4 : 2;
    return 0;
}

// Untimed: steps ExecuteInstruction() until HALT. instructions stays 0 when no HALT came within
// limit instructions.
Count CountOurs(uint64_t limit) {
    LoadOurs(Image);
    Count c;
    uint64_t n = 0;
    while (!(ReadControlFlags() & HALTED)) {
        if (n > limit) return {};
        const int kind = PrefixClass(CpuState.PC);
        const Stepped step = StepCounted();
        c.tstates += step.tstates;
        n += step.instructions;
        c.by_prefix[kind] += step.instructions;
    }
    c.instructions = n;
    return c;
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
// that ends an instruction reports op type 0, and every step returns its T-states. instructions
// stays 0 when no HALT came within limit.
Count CountZ80ex(Z80EX_CONTEXT* cpu, uint64_t limit) {
    LoadZ80ex(cpu);
    Count c;
    uint64_t n = 0;
    while (!z80ex_doing_halt(cpu)) {
        if (n > limit) return {};
        c.tstates += z80ex_step(cpu);
        if (z80ex_last_op_type(cpu) == 0) ++n;
    }
    c.instructions = n;
    return c;
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

void PrintResults(const char* who, const std::vector<Field>& fields, const uint8_t* memory) {
    std::printf("  %-9s", who);
    for (const Field& f : fields)
        std::printf(" %s 0x%04X", f.name, Word(memory, f.address));
    std::printf("\n");
}

// Checks and (unless check_only) times one workload. Returns 0, 1 or 2 as the exit status.
int RunWorkload(Z80EX_CONTEXT* cpu, const Workload& w, long passes_option, long rounds,
                bool check_only) {
    long passes = passes_option ? passes_option
                                : w.image[PassCountAddress] | w.image[PassCountAddress + 1] << 8;
    std::memset(Image, 0, sizeof Image);
    std::memcpy(Image, w.image, w.size);
    Image[PassCountAddress] = uint8_t(passes);
    Image[PassCountAddress + 1] = uint8_t(passes >> 8);
    std::printf("\n== workload %s: %ld passes%s\n", w.name, passes, check_only ? ", untimed" : "");

    const std::vector<Field> fields = w.fields(Image, unsigned(passes));
    Count reference = CountZ80ex(cpu, uint64_t(passes) * 1000000);
    Count ours = reference.instructions
                     ? CountOurs(reference.instructions + reference.instructions / 2)
                     : Count{};
    std::printf("results after one run each (expected:");
    for (const Field& f : fields)
        if (f.known) std::printf(" %s 0x%04X", f.name, f.expected);
    std::printf("):\n");
    PrintResults("z80ex", fields, Z80exMemory);
    PrintResults("ours", fields, MachineMemory);
    bool ok = true;
    for (const Field& f : fields) {
        uint16_t theirs = Word(Z80exMemory, f.address), mine = Word(MachineMemory, f.address);
        if (f.known && theirs != f.expected) {
            std::printf("FAIL: the yardstick's %s is not the expected one\n", f.name);
            ok = false;
        }
        if ((f.known && mine != f.expected) || mine != theirs) {
            std::printf("FAIL: our %s differs from the expected one or from the yardstick's\n",
                        f.name);
            ok = false;
        }
    }
    if (!reference.instructions) {
        std::printf("FAIL: the yardstick did not reach the HALT\n");
        ok = false;
    }
    if (!ours.instructions) {
        std::printf("FAIL: our processor did not reach the HALT\n");
        ok = false;
    } else if (ours.instructions != reference.instructions || ours.tstates != reference.tstates) {
        std::printf("FAIL: counts differ: instructions ours %llu, z80ex %llu; T-states ours "
                    "%llu, z80ex %llu\n",
                    (unsigned long long)ours.instructions,
                    (unsigned long long)reference.instructions, (unsigned long long)ours.tstates,
                    (unsigned long long)reference.tstates);
        ok = false;
    }
    if (!ok) return 1;
    const uint64_t count = ours.instructions;
    std::printf("instructions: %llu, T-states: %llu (both agree with z80ex)\n",
                (unsigned long long)count, (unsigned long long)ours.tstates);
    const char* kinds[] = {"unprefixed", "CB", "DD/FD", "ED", "DD CB/FD CB"};
    std::printf("mix:");
    for (int k = 0; k < 5; ++k)
        std::printf(" %s %.1f %%", kinds[k], 100.0 * double(ours.by_prefix[k]) / double(count));
    std::printf("\n");
    // The thread's loop, which the timed rounds run, must leave the same memory and T-states as
    // the instruction-by-instruction run (checked here in --check mode as well).
    std::vector<uint8_t> counted_memory(MachineMemory, MachineMemory + MemorySize);
    Timing threaded = TimeOurs(Image, RunTimeLimitSeconds);
    if (threaded.wall < 0 || threaded.tstates != ours.tstates ||
        !std::equal(counted_memory.begin(), counted_memory.end(), MachineMemory)) {
        std::printf("FAIL: the processor thread's run differs: %s\n",
                    threaded.wall < 0 ? "no HALT in time" : "memory or T-states");
        return 1;
    }
    if (check_only) return 0;

    std::vector<double> ours_wall, ours_cpu, reference_wall, reference_cpu;
    std::vector<uint8_t> ours_memory(MachineMemory, MachineMemory + MemorySize);
    std::vector<uint8_t> reference_memory(Z80exMemory, Z80exMemory + MemorySize);
    for (long r = 0; r < rounds; ++r) {
        Timing a = TimeOurs(Image, RunTimeLimitSeconds);
        bool same = std::equal(ours_memory.begin(), ours_memory.end(), MachineMemory);
        Timing b = TimeZ80ex(cpu);
        same = same && std::equal(reference_memory.begin(), reference_memory.end(), Z80exMemory);
        if (a.wall < 0 || !same) {
            std::printf("FAIL: round %ld: %s\n", r + 1,
                        a.wall < 0 ? "the processor thread did not halt in time"
                                   : "the memory differs from the counting run");
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
    double ours_rate = count / Median(ours_wall) / 1e6;
    double reference_rate = count / Median(reference_wall) / 1e6;
    double ratio = ours_rate / reference_rate;
    double cpu_ratio = Median(reference_cpu) / Median(ours_cpu);
    bool fast = ratio >= w.goal;
    std::printf("median %s: ours %.1f M instructions/s, z80ex %.1f M instructions/s, "
                "ours/z80ex %.2f (by thread cpu time %.2f); goal >= %.1f: %s\n",
                w.name, ours_rate, reference_rate, ratio, cpu_ratio, w.goal,
                fast ? "met" : "MISSED");
    return fast ? 0 : 2;
}

// ---- Instruction families ----

// A loop that runs the body 16 times per inner iteration, 256 inner iterations per outer one:
//   LD SP,0xF400  LD IX,0x9000  LD IY,0x9100  LD HL,0x9200  LD BC,outer
//   outer: LD D,0   inner: body x 16   DEC D  JP NZ,inner   DEC BC  LD A,B  OR C  JP NZ,outer
//   HALT
// Bodies leave B, C, D, SP, IX, IY and HL as they found them (or let HL wander in RAM harmlessly).
struct Family {
    const char* name;
    std::vector<uint8_t> body;
};

const Family Families[] = {
    {"unprefixed 8-bit loads and ALU", {0x7B, 0x85, 0xAC, 0x5F}}, // LD A,E ADD A,L XOR H LD E,A
    {"unprefixed (HL) and jumps",
     {0x7E, 0x34, 0x73, 0x18, 0x00}}, // LD A,(HL) INC (HL) LD (HL),E JR
    {"CB shifts and BIT", {0xCB, 0x03, 0xCB, 0x3F, 0xCB, 0x5F, 0xCB, 0xCD}}, // RLC E SRL A BIT 3,A
                                                                             // SET 1,L
    {"DD/FD (XY+d)",
     {0xDD, 0x7E, 0x01, 0xFD, 0x86, 0x02, 0xDD, 0x77, 0x03, 0xFD, 0x34, 0x04}}, // LD A,(IX+1)
                                                                                // ADD A,(IY+2)
                                                                                // LD (IX+3),A
                                                                                // INC (IY+4)
    {"ED ADC/SBC HL, NEG", {0xED, 0x5A, 0xED, 0x52, 0xED, 0x44}}, // ADC HL,DE SBC HL,DE NEG
    {"DD CB / FD CB bit group",
     {0xDD, 0xCB, 0x01, 0x46, 0xFD, 0xCB, 0x03, 0xD6, 0xFD, 0xCB, 0x03, 0x96}}, // BIT 0,(IX+1)
                                                                                // SET 2,(IY+3)
                                                                                // RES 2,(IY+3)
};

void PlaceFamily(const Family& f, uint16_t outer) {
    std::memset(Image, 0, sizeof Image);
    std::vector<uint8_t> code = {0x31,
                                 0x00,
                                 0xF4,
                                 0xDD,
                                 0x21,
                                 0x00,
                                 0x90,
                                 0xFD,
                                 0x21,
                                 0x00,
                                 0x91,
                                 0x21,
                                 0x00,
                                 0x92,
                                 0x01,
                                 uint8_t(outer),
                                 uint8_t(outer >> 8),
                                 0x16,
                                 0x00};
    uint16_t inner = uint16_t(code.size());
    for (int i = 0; i < 16; ++i)
        code.insert(code.end(), f.body.begin(), f.body.end());
    code.insert(code.end(), {0x15, 0xC2, uint8_t(inner), uint8_t(inner >> 8), 0x0B, 0x78, 0xB1,
                             0xC2, 0x11, 0x00, 0x76});
    std::memcpy(Image, code.data(), code.size());
}

int RunFamilies(Z80EX_CONTEXT* cpu, long rounds) {
    std::printf("\n== instruction families: ns of thread processor time per instruction (the "
                "loop's DEC D / JP NZ included), median of %ld rounds\n",
                rounds);
    std::printf("  %-34s %8s %8s %7s\n", "family", "ours", "z80ex", "ratio");
    for (const Family& f : Families) {
        PlaceFamily(f, 400);
        Count c = CountOurs(100000000);
        if (!c.instructions) {
            std::printf("FAIL: family %s did not halt\n", f.name);
            return 1;
        }
        std::vector<double> ours, theirs;
        for (long r = 0; r < rounds; ++r) {
            ours.push_back(TimeOurs(Image, RunTimeLimitSeconds).cpu);
            theirs.push_back(TimeZ80ex(cpu).cpu);
        }
        double a = Median(ours) / double(c.instructions) * 1e9;
        double b = Median(theirs) / double(c.instructions) * 1e9;
        std::printf("  %-34s %8.2f %8.2f %7.2f\n", f.name, a, b, b / a);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    long rounds = 5, passes = 0;
    bool check_only = false, families = false;
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
        } else if (!std::strcmp(argv[i], "--families")) {
            families = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--workload basic|prefixed|all] [--rounds N] [--passes N] "
                         "[--check] [--families]\n",
                         argv[0]);
            return 1;
        }
    }
    std::printf("processor loop %s: %ld rounds\n", check_only ? "check" : "benchmark", rounds);
    std::printf("compiler: g++ %s, flags: %s\n", __VERSION__, LUNABRIK_BUILD_FLAGS);

    Z80EX_CONTEXT* cpu = z80ex_create(Z80exRead, nullptr, Z80exWrite, nullptr, Z80exPortRead,
                                      nullptr, Z80exPortWrite, nullptr, Z80exVector, nullptr);
    int status = 0;
    bool any = false;
    for (const Workload& w : Workloads) {
        if (which != "all" && which != w.name) continue;
        any = true;
        status = std::max(status, RunWorkload(cpu, w, passes, rounds, check_only));
        if (status == 1) break;
    }
    if (!any) {
        std::fprintf(stderr, "no workload named '%s'\n", which.c_str());
        status = 1;
    }
    if (status != 1 && families && !check_only) status = std::max(status, RunFamilies(cpu, rounds));
    z80ex_destroy(cpu);
    return status;
}
