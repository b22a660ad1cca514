#include "system/rewind.h"

#include "system/state.h"
#include "system/system.h"

#include <deque>
#include <vector>

namespace {

struct Kept {
    uint64_t ticks; // the machine's ticks when taken
    std::vector<uint8_t> state;
};

std::deque<Kept> Ring;
size_t Bytes = 0;

uint64_t Ticks() { return SystemReadCounts().ticks; }

void DropOldest() {
    Bytes -= Ring.front().state.capacity();
    Ring.pop_front();
}

} // namespace

void RewindClear() {
    Ring.clear();
    Bytes = 0;
}

void RewindPoll() {
    const uint64_t now = Ticks();
    // A machine whose time went back (a state loaded, a power cycle) starts the ring afresh.
    while (!Ring.empty() && Ring.back().ticks > now) {
        Bytes -= Ring.back().state.capacity();
        Ring.pop_back();
    }
    if (!Ring.empty() && now - Ring.back().ticks < RewindTicksApart) return;
    Kept k{now, CaptureStateBytes()};
    if (k.state.empty()) return;
    k.state.shrink_to_fit();
    Bytes += k.state.capacity();
    Ring.push_back(std::move(k));
    while (Ring.size() > RewindStates + 1 || (Bytes > RewindBudgetBytes && Ring.size() > 1))
        DropOldest();
}

uint64_t RewindTicksUntilDue() {
    if (Ring.empty()) return 0;
    const uint64_t since = Ticks() - Ring.back().ticks;
    return since >= RewindTicksApart ? 0 : RewindTicksApart - since;
}

bool RewindStepBack() {
    const uint64_t now = Ticks();
    while (!Ring.empty() && Ring.back().ticks >= now) {
        Bytes -= Ring.back().state.capacity();
        Ring.pop_back();
    }
    if (Ring.empty()) return false;
    return RestoreStateBytes(Ring.back().state).ok;
}

size_t RewindCount() { return Ring.size(); }
size_t RewindBytes() { return Bytes; }
uint64_t RewindSpanTicks() { return Ring.empty() ? 0 : Ticks() - Ring.front().ticks; }
