// The bus: everything the processor sees of the machine, and nothing more. The devices in machine/
// implement it (memory, ports, control flags) and the settings supply the pace; the processor
// includes this header and its own.
//
//   memory     64 KB, byte and little-endian word access, wrapping from 0xFFFF to 0x0000
//   ports      PortRead (IN) and PortWrite (OUT), 8-bit port numbers
//   interrupts ControlFlags (the tick, the key request, halt, reset, quit, pause) and
//              InterruptBusByte (the byte a device puts on the data bus for mode 2)
//   pacing     waitstates, the idle iterations before each instruction
//
// ControlFlags, the one word through which other threads (timer, keyboard, buttons) talk to the
// ProcessorThread:
//
//   bit  name    set by                          cleared by
//   0x01 TICK    the 20 ms timer                 ProcessorThread, after the NMI entry
//   0x02 KEY     keyboard model, on a key press  ProcessorThread, on interrupt acceptance
//   0x04 HALTED  HALT instruction                ProcessorThread, on the next TICK
//   0x08 RESET   Reset button                    processor reset
//   0x10 QUIT    Quit button, window close       never: the ProcessorThread ends
//   0x20 PAUSE   the front end, to stop the      the front end, to resume; kept by a reset
//                machine (ours: the ABC80 has
//                no such line)
//   0x40 DEBUG   the debugger, while it has      the debugger; kept by a reset
//                something armed: every step
//                calls its hook (ours as well)
//
// Every change is one atomic read-modify-write of the whole word, so a bit set by one thread is
// never lost to a concurrent clear of another bit by the other thread. Setters use release order
// and the processor's poll uses acquire, so whatever a setter stored before (InPorts[56],
// InterruptBusByte) is visible once the processor sees the bit.
//
// Threads: the ProcessorThread is the only writer of memory. Other threads read memory through
// ReadMemoryShared, and every access that two threads share (memory writes, InPorts, the bus byte,
// waitstates) is a relaxed atomic: a plain move on x86, so the per-instruction accessors cost
// nothing beyond the access itself. Nothing here locks, allocates or calls through a pointer.
#pragma once

#include <atomic>
#include <cstdint>

// ---- memory ------------------------------------------------------------------------------------

constexpr uint32_t MemorySize = 0x10000;

extern uint8_t MachineMemory[MemorySize]; // defined by machine/memory.cpp

// The processor's own reads are plain; its writes are relaxed atomic stores, since the renderer
// reads screen memory meanwhile.
inline uint8_t ReadByte(uint16_t address) { return MachineMemory[address]; }

inline void WriteByte(uint16_t address, uint8_t value) {
    std::atomic_ref<uint8_t>(MachineMemory[address]).store(value, std::memory_order_relaxed);
}

inline uint16_t ReadWord(uint16_t address) {
    return uint16_t(ReadByte(address) | ReadByte(uint16_t(address + 1)) << 8);
}

inline void WriteWord(uint16_t address, uint16_t value) {
    WriteByte(address, uint8_t(value));
    WriteByte(uint16_t(address + 1), uint8_t(value >> 8));
}

// For threads other than the ProcessorThread (renderer, tests, tools).
inline uint8_t ReadMemoryShared(uint16_t address) {
    return std::atomic_ref<uint8_t>(MachineMemory[address]).load(std::memory_order_relaxed);
}

// ---- ports -------------------------------------------------------------------------------------

constexpr uint8_t KeyboardPort = 56;

extern uint8_t InPorts[256];  // what IN reads from each port; defined by machine/ports.cpp
extern uint8_t OutPorts[256]; // the last value OUT wrote to each port

inline uint8_t ReadInPort(uint8_t port) {
    return std::atomic_ref<uint8_t>(InPorts[port]).load(std::memory_order_relaxed);
}
inline void WriteInPort(uint8_t port, uint8_t value) {
    std::atomic_ref<uint8_t>(InPorts[port]).store(value, std::memory_order_relaxed);
}

// Reads of the keyboard port by the processor so far. A front end that presses a key for the user
// waits until the emulated software has read the port after the press (the ROM's keyboard handler
// reads it in its interrupt) before it lets the key go, so a short press is never missed.
extern std::atomic<uint32_t> KeyboardPortReads;

// IN: the byte InPorts[port]; the machine sees no other effect.
inline uint8_t PortRead(uint8_t port) {
    if (port == KeyboardPort) KeyboardPortReads.fetch_add(1, std::memory_order_relaxed);
    return ReadInPort(port);
}

// The registers an OUT hands to the port: the host file service behind port 255 takes its slot
// from B, its name record from DE and its buffer from HL, and its opens set HL. No other register
// is read or changed by any port.
struct PortRegisters {
    uint8_t B;
    uint16_t DE;
    uint16_t HL;
};

// OUT value to port, with the registers as they stand at the OUT. Returns HL as the port leaves it:
// changed only by a host file open (OUT 255 with 0 or 1), else the HL passed in.
uint16_t PortWrite(uint8_t port, uint8_t value, PortRegisters registers);

// ---- interrupts and control --------------------------------------------------------------------

constexpr uint32_t TICK = 0x01;
constexpr uint32_t KEY = 0x02;
constexpr uint32_t HALTED = 0x04;
constexpr uint32_t RESET = 0x08;
constexpr uint32_t QUIT = 0x10;
constexpr uint32_t PAUSE = 0x20;
constexpr uint32_t DEBUG = 0x40;

extern std::atomic<uint32_t> ControlFlags; // defined by machine/control.cpp

// Written by the keyboard model (always 26) before it sets KEY; read by mode 2 interrupt
// acceptance. Accessed through the two functions below from any thread.
extern uint8_t InterruptBusByte;

// Also wakes a ProcessorThread that waits (for the next TICK at real speed, or while paused);
// cheap when none waits.
inline void SetControlFlags(uint32_t bits) {
    ControlFlags.fetch_or(bits, std::memory_order_release);
    ControlFlags.notify_all();
}
// Also wakes a waiting ProcessorThread, so clearing PAUSE resumes it.
inline void ClearControlFlags(uint32_t bits) {
    ControlFlags.fetch_and(~bits, std::memory_order_acq_rel);
    if (bits & PAUSE) ControlFlags.notify_all();
}
inline uint32_t ReadControlFlags() { return ControlFlags.load(std::memory_order_acquire); }

inline uint8_t ReadInterruptBusByte() {
    return std::atomic_ref<uint8_t>(InterruptBusByte).load(std::memory_order_relaxed);
}
inline void WriteInterruptBusByte(uint8_t v) {
    std::atomic_ref<uint8_t>(InterruptBusByte).store(v, std::memory_order_relaxed);
}

// ---- pacing ------------------------------------------------------------------------------------

// The settings' waitstates, written by the settings file and the Config dialog: n > 0 idle
// iterations, 0 none, -1 a real ABC80's speed (see cpu/processor.h). Defined by
// host/settings.cpp, which keeps it with the settings file.
//
// The processor follows the pace, read before every instruction: the settings' waitstates, or
// while a front end overrides it for the run (turbo, a speed named on the command line) the
// override, which never reaches the settings file. At a real pace (-1) it runs PaceBudget()
// T-states per tick: 60,000 is a real ABC80's 3 MHz, other budgets a share or a multiple of it (the
// run's speed in percent, which never reaches the settings file either). Every change of what the
// processor follows is counted in PaceChanges, so that the processor starts a fresh tick period
// at a new pace. The setters are called from one thread at a time (the front end's); the
// processor only reads.
extern int32_t WaitstatesSetting;
extern int32_t PaceSetting;        // what the processor follows
extern int32_t PaceOverride;       // NoPaceOverride, or the pace for this run
extern uint32_t PaceBudgetSetting; // T-states per tick at a real pace
extern uint32_t PaceChangeCount;
constexpr int32_t NoPaceOverride = INT32_MIN;
constexpr uint32_t RealAbc80TstatesPerTick = 60000; // 3 MHz / 50 Hz

inline int32_t Waitstates() {
    return std::atomic_ref<int32_t>(WaitstatesSetting).load(std::memory_order_relaxed);
}
inline int32_t Pace() {
    return std::atomic_ref<int32_t>(PaceSetting).load(std::memory_order_relaxed);
}
inline uint32_t PaceBudget() {
    return std::atomic_ref<uint32_t>(PaceBudgetSetting).load(std::memory_order_relaxed);
}
inline uint32_t PaceChanges() {
    return std::atomic_ref<uint32_t>(PaceChangeCount).load(std::memory_order_acquire);
}
inline void StorePace(int32_t n) {
    if (std::atomic_ref<int32_t>(PaceSetting).exchange(n, std::memory_order_relaxed) != n)
        std::atomic_ref<uint32_t>(PaceChangeCount).fetch_add(1, std::memory_order_release);
}
inline void SetWaitstates(int32_t n) {
    std::atomic_ref<int32_t>(WaitstatesSetting).store(n, std::memory_order_relaxed);
    if (std::atomic_ref<int32_t>(PaceOverride).load(std::memory_order_relaxed) == NoPaceOverride)
        StorePace(n);
}
// n: the pace for this run, or NoPaceOverride to follow the settings' waitstates again.
inline void SetPaceOverride(int32_t n) {
    std::atomic_ref<int32_t>(PaceOverride).store(n, std::memory_order_relaxed);
    StorePace(n == NoPaceOverride ? Waitstates() : n);
}
// T-states per tick at a real pace (at least 1).
inline void SetPaceBudget(uint32_t tstates) {
    if (tstates == 0) tstates = 1;
    if (std::atomic_ref<uint32_t>(PaceBudgetSetting).exchange(tstates, std::memory_order_relaxed) !=
        tstates)
        std::atomic_ref<uint32_t>(PaceChangeCount).fetch_add(1, std::memory_order_release);
}
