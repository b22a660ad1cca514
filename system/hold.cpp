#include "system/hold.h"

#include "cpu/processor.h"
#include "cpu/bus.h"
#include "system/system.h"

#include <chrono>
#include <thread>

namespace {

// How long a hold waits for a running processor to reach an instruction boundary. It takes
// microseconds; only a processor thread stuck in a host call takes longer.
constexpr auto HoldLimit = std::chrono::seconds(10);
// How often the wait looks: the processor looks at the flags between instructions, or wakes from
// its wait for the next tick when they change.
constexpr auto HoldPoll = std::chrono::microseconds(100);

} // namespace

MachineHold::MachineHold() {
    if (!SystemRunning()) return;
    raised_ = !(ReadControlFlags() & PAUSE);
    if (raised_) SetControlFlags(PAUSE);
    const auto limit = std::chrono::steady_clock::now() + HoldLimit;
    while (!ProcessorPaused() && SystemRunning()) {
        if (std::chrono::steady_clock::now() > limit) {
            held_ = false;
            return;
        }
        std::this_thread::sleep_for(HoldPoll);
    }
}

MachineHold::~MachineHold() {
    if (raised_ && !SystemPaused()) ClearControlFlags(PAUSE);
}
