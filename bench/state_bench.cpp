// What a state costs: rewind takes one every second of the machine's time, so taking it
// (CaptureStateBytes: stop, read the machine, encode) and putting it back (RestoreStateBytes:
// decode, check, apply) must stay cheap. The machine holds memory that does not compress, a
// program's writes into the ROM areas and keys on their way through the pacer. Rounds interleave
// the two; the report gives each one's median time in microseconds and the state's size.
//
// Usage: lunabrik_state_bench [--rounds N] [--count N]
// Exit status: 0, or 1 when a state cannot be taken or put back.
#include "machine/memory.h"
#include "system/pacer.h"
#include "system/state.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 9, count = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--count")) count = std::max(1, std::atoi(argv[i + 1]));
    }
    std::mt19937 random(80);
    for (uint32_t a = 0; a < MemorySize; ++a)
        MachineMemory[a] = uint8_t(random());
    std::memcpy(MachineMemory + BasicRomAddress, LoadedBasicRom, BasicRomSize);
    std::memcpy(MachineMemory + DevDosRomAddress, LoadedDevDosRom, DevDosRomSize);
    for (uint16_t a : {0x0100, 0x0104, 0x2000, 0x3FFF, 0x6000, 0x6ABC})
        MachineMemory[a] ^= 0x5A;
    PacerReset();
    PacerType(std::string(200, 'A'));

    std::vector<double> capture, restore;
    std::vector<uint8_t> state;
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        for (int i = 0; i < count; ++i)
            state = CaptureStateBytes();
        capture.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                          count);
        if (state.empty()) return 1;
        start = Clock::now();
        for (int i = 0; i < count; ++i)
            if (!RestoreStateBytes(state).ok) return 1;
        restore.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                          count);
    }
    std::printf("state: %zu bytes, capture %.1f us, restore %.1f us (medians of %d rounds of %d)\n",
                state.size(), Median(capture), Median(restore), rounds, count);
    return 0;
}
