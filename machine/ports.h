// The ABC80's I/O space: no peripheral chip is modelled, only two 256-byte tables.
//
//   port 56 (0x38)  IN: the keyboard code (ABC80 code, bit 7 set while a key is held)
//   port 58 (0x3A)  IN: bits 3-6 of the value last written to port 58; bits 0-2 and 7 read 0
//   port 255 (0xFF) IN: status of the last host file open (0 opened, 1 failed)
//                   OUT: runs host file operation 0-4 (values 5-255 do nothing more)
//   any other       IN: 0
//
// Every OUT also records its value in OutPorts. Only the low 8 bits of the Z80's port address
// select the port. Reset clears neither table.
//
// Threads: InPorts[56] is written by the keyboard model on the window thread while the processor
// reads it; every access to InPorts goes through relaxed atomics.
#pragma once

#include <atomic>
#include <cstdint>

constexpr uint8_t KeyboardPort = 56;
constexpr uint8_t LatchPort = 58;
constexpr uint8_t HostFilePort = 255;

extern uint8_t InPorts[256];
extern uint8_t OutPorts[256];

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

// OUT: port 58 latches bits 3-6, port 255 runs a host file operation, then OutPorts[port] = value.
void PortWrite(uint8_t port, uint8_t value);

// The host file operations an OUT to port 255 selects by its value.
using HostFileOperation = void (*)();
constexpr int HostFileOperationCount = 5;
extern const HostFileOperation HostFileService[HostFileOperationCount];
