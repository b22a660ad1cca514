// One front end's speed on a saved machine, in millions of instructions a second, for
// bench/frontends.sh: the processor's bare loop (ProcessorThreadBody on a thread of its own, no
// clock, no hooks), the desktop's threads (SystemStart: the processor, render and clock threads,
// with the key pacer's hooks), or the deterministic tick on this thread (SystemRunTick with the
// stall watch on, as the runner and its control protocol drive it; the browser page drives it too).
//
// Usage: lunabrik_frontends_bench bare|thread|tick STATE [SECONDS] [INSTRUCTIONS_PER_TICK]
// Run in a folder holding basic.rom, dev_dos.rom, font.bin and Lunabrik.cfg (waitstates 0).
// Prints "mips N" (and the instructions and seconds it is made of); exit status 1 when the
// machine cannot be booted or the state loaded, 2 for bad arguments.
#include "cpu/processor.h"
#include "machine/control.h"
#include "system/state.h"
#include "system/system.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: lunabrik_frontends_bench bare|thread|tick STATE [SECONDS] "
                             "[INSTRUCTIONS_PER_TICK]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 2.0;
    const long per_tick = argc > 4 ? std::atol(argv[4]) : 40000;
    if (seconds <= 0 || per_tick <= 0 || (mode != "bare" && mode != "thread" && mode != "tick")) {
        std::fprintf(stderr, "lunabrik_frontends_bench: bad arguments\n");
        return 2;
    }
    BootReport report;
    if (!SystemBoot(BootOptions{}, report)) {
        std::fprintf(stderr, "lunabrik_frontends_bench: cannot boot (%s)\n",
                     report.missing_rom ? report.missing_rom : "?");
        return 1;
    }
    const StateResult loaded = SystemLoadState(argv[2], false);
    if (!loaded.ok) {
        std::fprintf(stderr, "lunabrik_frontends_bench: %s\n", loaded.message.c_str());
        return 1;
    }
    SystemSetRunPace(true, 0); // as fast as the host allows, whatever Lunabrik.cfg says
    const uint64_t before = SystemReadCounts().instructions;
    const auto start = Clock::now();
    double elapsed = 0;
    if (mode == "bare") {
        SetPeriodicHook(nullptr);
        SetPeriodEndHook(nullptr);
        std::thread processor([] { ProcessorThreadBody(); });
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        SetControlFlags(QUIT);
        processor.join();
        elapsed = SecondsSince(start);
    } else if (mode == "thread") {
        SystemStart(nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        SystemStop();
        elapsed = SecondsSince(start);
    } else {
        SystemWatchStalls(true); // as the runner and its control protocol have it
        do {
            for (int i = 0; i < 10; ++i)
                if (!SystemRunTick(per_tick)) return 1;
            elapsed = SecondsSince(start);
        } while (elapsed < seconds);
    }
    const uint64_t executed = SystemReadCounts().instructions - before;
    std::printf("instructions %llu\nseconds %.3f\nmips %.1f\n",
                static_cast<unsigned long long>(executed), elapsed, executed / elapsed / 1e6);
    return 0;
}
