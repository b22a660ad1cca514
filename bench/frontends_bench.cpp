// One front end's speed on a saved machine, in millions of instructions a second, for
// bench/frontends.sh: the processor's bare loop (ProcessorThreadBody on a thread of its own, no
// clock, no hooks), the desktop's threads (SystemStart: the processor, render and clock threads,
// with the key pacer's hooks), or the deterministic tick on this thread (SystemRunTick with the
// stall watch on, as the runner and its control protocol drive it; the browser page drives it too).
//
// Usage: lunabrik_frontends_bench bare|thread|tick|run STATE [SECONDS] [INSTRUCTIONS_PER_TICK]
// (run: ProcessorRun alone, to tell the tick's loop from what the tick does around it)
// Run in a folder holding basic.rom, dev_dos.rom, font.bin and Lunabrik.cfg (waitstates 0).
// Prints "mips N", per second of the whole process's processor time (every thread the front end
// runs counts; on a host shared with other work this is steadier than wall time), "wall_mips N"
// per second of wall time, and what they are made of; exit status 1 when the machine cannot be
// booted or the state loaded, 2 for bad arguments.
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
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
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
    if (seconds <= 0 || per_tick <= 0 ||
        (mode != "bare" && mode != "thread" && mode != "tick" && mode != "run")) {
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
    const double cpu_start = ProcessSeconds();
    double elapsed = 0;
    if (mode == "bare") {
        SetPeriodicHook(nullptr);
        SetPeriodEndHook(nullptr);
        std::thread processor([] { ProcessorThreadBody(); });
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        SetControlFlags(QUIT);
        processor.join();
        elapsed = SecondsSince(start);
    } else if (mode == "run") { // the tick's loop alone: looks every 64, no pacer, tick or frame
        std::thread processor([&] {
            do {
                ProcessorRun(1000000, 64, [] { return true; });
                elapsed = SecondsSince(start);
            } while (elapsed < seconds);
        });
        processor.join();
    } else if (mode == "thread") {
        SystemStart(nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        SystemStop();
        elapsed = SecondsSince(start);
    } else {
        SystemWatchStalls(true); // as the runner and its control protocol have it
        // On a thread of its own, as the bare loop runs, so both are measured alike.
        bool quit = false;
        std::thread ticks([&] {
            do {
                for (int i = 0; i < 10 && !quit; ++i)
                    quit = !SystemRunTick(per_tick);
                elapsed = SecondsSince(start);
            } while (elapsed < seconds && !quit);
        });
        ticks.join();
        if (quit) return 1;
    }
    const double cpu = ProcessSeconds() - cpu_start;
    const uint64_t executed = SystemReadCounts().instructions - before;
    std::printf("instructions %llu\nseconds %.3f\ncpu_seconds %.3f\nmips %.1f\nwall_mips %.1f\n",
                static_cast<unsigned long long>(executed), elapsed, cpu, executed / cpu / 1e6,
                executed / elapsed / 1e6);
    return 0;
}
