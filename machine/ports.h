// The ABC80's I/O space: no peripheral chip is modelled, only two 256-byte tables.
//
//   port 56 (0x38)  IN: the keyboard code (ABC80 code, bit 7 set while a key is held)
//   port 58 (0x3A)  IN: bits 3-6 of the value last written to port 58; bits 0-2 and 7 read 0
//   port 255 (0xFF) IN: status of the last host file open (0 opened, 1 failed)
//                   OUT: runs host file operation 0-4 (values 5-255 do nothing more)
//   any other       IN: 0
//
// Every OUT also records its value in OutPorts. Only the low 8 bits of the Z80's port address
// select the port. Reset clears neither table. The tables, PortRead and PortWrite are the bus's
// (cpu/bus.h); this file defines them.
//
// Threads: InPorts[56] is written by the keyboard model on the window thread while the processor
// reads it; every access to InPorts goes through relaxed atomics.
#pragma once

#include "cpu/bus.h" // InPorts, OutPorts, PortRead, PortWrite

#include <cstdint>

constexpr uint8_t LatchPort = 58;
constexpr uint8_t HostFilePort = 255;

// The host file operations an OUT to port 255 selects by its value: each takes the registers of the
// OUT and returns HL as it leaves it.
using HostFileOperation = uint16_t (*)(PortRegisters);
constexpr int HostFileOperationCount = 5;
extern const HostFileOperation HostFileService[HostFileOperationCount];
