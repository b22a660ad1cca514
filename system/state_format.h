// The state file's format (docs/state-format.md) apart from the machine: a staged record of a
// whole machine, encoded to bytes and decoded from them with every field checked. Capturing the
// machine into a record and applying a record to it are system/state.cpp's; nothing here reads or
// changes the machine.
#pragma once

#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "machine/host_files.h"
#include "system/pacer.h"
#include "system/state.h" // the hashes

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The version this build writes: 2 keeps the ROM areas as differences from the images loaded;
// files of version 1 (the ROM areas in MEM byte for byte) still decode.
constexpr uint16_t StateFormatVersion = 2;
// A state is about 80 KB; a file far beyond that is not one of ours.
constexpr size_t MaxStateFileSize = 4u << 20;

// Control flags a state keeps; KEY travels with the keyboard (the pacer's snapshot).
constexpr uint8_t StateTick = 0x01, StateHalted = 0x02;

// A state as taken from the machine before it is written, or as read from a file and checked
// before anything of the machine changes.
struct StagedState {
    CpuRegisters cpu{};          // the register file
    ProcessorTiming timing{};    // counters, the tick period, the LD A,R generator
    uint8_t flags = 0;           // StateTick | StateHalted
    uint32_t frame_count = 0;    // frames drawn: the blink phase
    std::vector<uint8_t> memory; // the 64 KB address space
    // The ROM areas are the images loaded with these runs (address, bytes) written over them;
    // false for a format 1 file, whose memory holds the ROM areas itself.
    bool rom_differences = true;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> rom_runs;
    uint8_t in_ports[256] = {};  // what IN reads
    uint8_t out_ports[256] = {}; // what OUT last wrote
    PacerSnapshot pacer;         // keyboard, key pacer, port 56, the bus byte, KEY
    struct Slot {
        uint8_t number;        // 0-7
        FileSlotRecord record; // name in the files folder, mode, position
    };
    std::vector<Slot> slots;      // the open host file slots
    bool have_roms = false;       // the ROMS block is there (files, not rewind)
    uint64_t basic_hash = 0;      // FNV-1a 64 of basic.rom as the loader reads it, 0 when missing
    uint64_t dev_dos_hash = 0;    // the same of dev_dos.rom
    int32_t waitstates = 0;       // the settings in use, recorded only
    std::string files_folder;     // the files folder setting, recorded only
    int64_t saved_at = 0;         // seconds since 1970, UTC
    bool has_picture = false;     // the SHOT block is there
    std::vector<uint8_t> picture; // FrameLines lines of FramePixelBytes
};

// The file's bytes of a record (whose memory holds MemorySize bytes): in this build's version, or
// in format 1 for a record read from a format 1 file (rom_differences false).
std::vector<uint8_t> EncodeState(const StagedState& state);
// Checks and reads a whole file into state (a fresh record). False, with error saying why, when
// anything is wrong; state is then not to be used.
bool DecodeState(const uint8_t* data, size_t size, StagedState& state, std::string& error);
