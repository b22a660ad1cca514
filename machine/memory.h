// The ABC80's 64 KB address space as one flat array, filled by the loader at start-up:
//
//   0x0000-0x3FFF  basic.rom (first 16,384 bytes; 0xFF where the file is short)
//   0x4000-0x57FF  0xFF
//   0x5800-0x5FFF  0x20
//   0x6000-0x6FFF  dev_dos.rom (first 4,096 bytes)
//   0x7000-0x7BFF  0xFF
//   0x7C00-0x7FFF  0x20: screen memory, eight blocks of 128 bytes (three 40-byte rows each)
//   0x8000-0xFFFF  0xFF (0xF500-0xFCFF: the host file service's eight slot buffers)
//
// No write protection, no memory-mapped device: the ROM areas can be written like RAM and Reset
// does not restore them. Word access is little-endian and wraps from 0xFFFF to 0x0000.
//
// Threads: the ProcessorThread is the only writer. The RenderThread reads screen memory while the
// processor writes it, so every write is a relaxed atomic store (a plain move on x86) and other
// threads read through ReadMemoryShared; the processor's own reads are plain. The array and its
// accessors are the bus's (cpu/bus.h); this file defines the array and loads it.
#pragma once

#include "cpu/bus.h" // MachineMemory and its accessors

#include <cstdint>

constexpr uint16_t BasicRomAddress = 0x0000;
constexpr uint32_t BasicRomSize = 16384;
constexpr uint16_t DevDosRomAddress = 0x6000;
constexpr uint32_t DevDosRomSize = 4096;
constexpr uint16_t ScreenMemoryAddress = 0x7C00;
constexpr uint32_t ScreenMemorySize = 1024;

// The ROM areas as the loader last filled them (fill bytes included where an image is short): what
// a saved state records its ROM areas against, so a state never holds the images themselves.
extern uint8_t LoadedBasicRom[BasicRomSize];
extern uint8_t LoadedDevDosRom[DevDosRomSize];

// Fills memory and loads basic.rom and dev_dos.rom from the working directory. True when both
// images were read; on false, *missing_file (when given) names the image that could not be opened.
bool LoadAddressSpace(const char** missing_file = nullptr);
