// What the processor comparisons share: loading a workload image into our machine, stepping it
// with repeating block instructions counted per repetition, timing the processor thread's own
// loop until HALT, and the report's median and option parsing.
#pragma once

#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "host/settings.h"
#include "machine/control.h"
#include "machine/memory.h"

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

namespace bench {

using Clock = std::chrono::steady_clock;

// Wall time of a run and the processor time its thread used: on a shared machine the second
// shows what the interpreter costs when other work takes turns on the same core.
struct Timing {
    double wall = -1, cpu = -1;
    uint64_t tstates = 0; // the T-states the thread counted (ours only)
};

inline double ThreadSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline void LoadOurs(const uint8_t* image) {
    ControlFlags.store(0);
    std::memcpy(MachineMemory, image, MemorySize);
    CpuState = {};
    ProcessorReset();
    SetWaitstates(0);
}

// One instruction by ExecuteInstruction(); a repeating block instruction (LDIR .. OTDR) counts
// once per repetition, as an interpreter that steps repetitions counts it.
struct Stepped {
    uint64_t instructions, tstates;
};
inline Stepped StepCounted() {
    const uint16_t pc = CpuState.PC;
    const uint8_t op = ReadByte(uint16_t(pc + 1));
    const bool block = ReadByte(pc) == 0xED && (op & 0xF4) == 0xB0;
    const uint16_t bc = CpuState.BC;
    const uint64_t t = ExecuteInstruction();
    if (!block) return {1, t};
    if (op & 0x02) return {uint64_t(((uint8_t(bc >> 8) - CpuState.B - 1) & 0xFF) + 1), t}; // B
    return {uint64_t(((bc - CpuState.BC - 1) & 0xFFFF) + 1), t};
}

// Runs the image as the program does: times from starting the thread until HALTED is seen.
// wall stays negative when the run does not halt within limit_seconds.
inline Timing TimeOurs(const uint8_t* image, double limit_seconds) {
    LoadOurs(image);
    Timing timing;
    const uint64_t tstates_before = ReadProcessorCounts().tstates;
    const Clock::time_point start = Clock::now();
    std::thread processor([] { ProcessorThreadBody(nullptr); });
    clockid_t clock;
    const bool have_clock = pthread_getcpuclockid(processor.native_handle(), &clock) == 0;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (ReadControlFlags() & HALTED) {
            timing.wall = elapsed;
            if (have_clock) timing.cpu = ThreadSeconds(clock);
            break;
        }
        if (elapsed > limit_seconds) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    SetControlFlags(QUIT);
    processor.join();
    timing.tstates = ReadProcessorCounts().tstates - tstates_before;
    return timing;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline long ParseCount(const char* text, const char* option) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 1 || value > 65535) {
        std::fprintf(stderr, "%s needs a count from 1 to 65535, not '%s'\n", option, text);
        std::exit(1);
    }
    return value;
}

} // namespace bench
