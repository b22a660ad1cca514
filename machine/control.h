// ControlFlags: the one word through which the window thread (timer, keyboard, buttons) talks to
// the ProcessorThread, and InterruptBusByte, the byte an interrupting device puts on the data bus.
//
//   bit  name    set by                          cleared by
//   0x01 TICK    window thread, every 20 ms      ProcessorThread, after the NMI entry
//   0x02 KEY     keyboard model, on a key press  ProcessorThread, on interrupt acceptance
//   0x04 HALTED  HALT instruction                ProcessorThread, on the next TICK
//   0x08 RESET   Reset button                    processor reset
//   0x10 QUIT    Quit button, window close       never: the ProcessorThread ends
//
// Every change is one atomic read-modify-write of the whole word, so a bit set by one thread is
// never lost to a concurrent clear of another bit by the other thread. Setters use release order
// and the processor's poll uses acquire, so whatever a setter stored before (InPorts[56],
// InterruptBusByte) is visible once the processor sees the bit.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint32_t TICK = 0x01;
constexpr uint32_t KEY = 0x02;
constexpr uint32_t HALTED = 0x04;
constexpr uint32_t RESET = 0x08;
constexpr uint32_t QUIT = 0x10;

extern std::atomic<uint32_t> ControlFlags;

// Written by the keyboard model (always 26) before it sets KEY; read by mode 2 interrupt
// acceptance. Accessed through the two functions below from any thread.
extern uint8_t InterruptBusByte;

// Also wakes a ProcessorThread that waits for the next TICK at real speed (cheap when none waits).
inline void SetControlFlags(uint32_t bits) {
    ControlFlags.fetch_or(bits, std::memory_order_release);
    ControlFlags.notify_all();
}
inline void ClearControlFlags(uint32_t bits) {
    ControlFlags.fetch_and(~bits, std::memory_order_acq_rel);
}
inline uint32_t ReadControlFlags() { return ControlFlags.load(std::memory_order_acquire); }

inline uint8_t ReadInterruptBusByte() {
    return std::atomic_ref<uint8_t>(InterruptBusByte).load(std::memory_order_relaxed);
}
inline void WriteInterruptBusByte(uint8_t v) {
    std::atomic_ref<uint8_t>(InterruptBusByte).store(v, std::memory_order_relaxed);
}
