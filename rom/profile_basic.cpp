// Where the free BASIC spends its time: boots the machine from the images in the working folder
// (Lunabrik.cfg at a real ABC80's pace), types a program and RUN, then samples the processor's
// PC at the end of every tick period. At a real pace each period ends after 60,000 T-states, so
// the samples fall evenly over the time spent. Prints "address count" per sampled address;
// rom/profile_basic.sh names the routines.
//   lunabrik-profile-basic 'PROGRAM\rRUN\r' TICKS
#include "cpu/cpu_state.h"
#include "system/pacer.h"
#include "system/system.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lunabrik-profile-basic 'PROGRAM\\rRUN\\r' TICKS\n");
        return 2;
    }
    std::string text;
    for (const char* s = argv[1]; *s; s++) { // \r as in the headless runner
        if (s[0] == '\\' && s[1] == 'r') {
            text += '\r';
            s++;
        } else
            text += *s;
    }
    BootReport report;
    if (!SystemBoot(BootOptions{}, report)) {
        std::fprintf(stderr, "lunabrik-profile-basic: %s missing\n", report.missing_rom);
        return 2;
    }
    for (int i = 0; i < 100; i++) // to READY
        SystemRunTick(1000000);
    PacerType(text);
    while (PacerBusy())
        SystemRunTick(1000000);
    std::map<uint16_t, long> hits;
    for (long n = std::atol(argv[2]); n > 0; n--) {
        if (!SystemRunTick(1000000)) break;
        hits[CpuState.PC]++;
    }
    for (const auto& [pc, count] : hits)
        std::printf("%04X %ld\n", pc, count);
    return 0;
}
