#include "machine/control.h"

#include <condition_variable>
#include <mutex>

std::atomic<uint32_t> ControlFlags{0};
uint8_t InterruptBusByte;
std::atomic<uint32_t> ProcessorNapping{0};

namespace {
std::mutex NapMutex;
std::condition_variable NapWake;
} // namespace

// A setter that finds the processor napping takes the nap's lock, so its wake cannot fall between
// the processor's last look at the flags and its sleep.
void WakeNappingProcessor() {
    { std::lock_guard lock(NapMutex); }
    NapWake.notify_all();
}

bool NapWhileFlags(uint32_t seen, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(NapMutex);
    ProcessorNapping.store(1, std::memory_order_seq_cst);
    const bool changed = NapWake.wait_until(
        lock, deadline, [seen] { return ControlFlags.load(std::memory_order_seq_cst) != seen; });
    ProcessorNapping.store(0, std::memory_order_relaxed);
    return changed;
}
