// Saved machines: the whole emulated ABC80 written to a file (or kept in memory for rewind) and
// brought back exactly, so that running on from a loaded state does what running on from the
// moment of saving would have done. The format is our own and documented in docs/state-format.md.
//
// A state holds the processor (registers and timing, the LD A,R generator), memory, the ports, the
// control flags that belong to the machine (TICK, KEY, HALTED), the keyboard and the key pacer with
// everything on its way, the blink phase, the host file slots (name, mode, position), the
// settings in use (recorded; loading keeps this computer's own), a hash of each ROM image file and,
// in files, a picture of the screen. It never holds the ROM images' files themselves.
//
// A state is taken and restored at an instruction boundary with the processor stopped: between
// SystemRunTick calls, or, with the machine's threads running, inside a MachineHold
// (system/hold.h); the pause the user set stays as it was. Call from the front end's thread, the
// one that pauses and resumes the machine. The file's format itself, apart from the machine, is
// system/state_format.h.
//
// Loading reads and checks the whole file into a staging record first and changes nothing unless
// all of it is good. Host files are opened again by name in the files folder with the host file
// service's rules and never written, emptied or created by loading; a slot that cannot be opened
// again (gone, shorter than its position, refused) is closed and named in the result.
#pragma once

#include "display/display.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* StateFileExtension = ".lbs";

struct StateResult {
    bool ok = false;
    std::string message; // one line: what was done, or why not
    // Host file slots that could not be opened again, as "slot N NAME: reason".
    std::vector<std::string> closed_slots;
    // Refused (nothing changed) only because the state was saved with other ROM images; loading
    // again with force_other_roms takes it anyway.
    bool other_roms = false;
};

// Writes the machine to path through a temporary file renamed over it: a failed save leaves an
// earlier file of that name whole.
StateResult SystemSaveState(const std::string& path);
// Loads the state in path into the machine.
StateResult SystemLoadState(const std::string& path, bool force_other_roms);

// A state file's bytes, taken from the machine as SystemSaveState takes them (empty when the
// machine did not stop), and loading such bytes as SystemLoadState loads a file (path names them
// in messages): a recorded session starts from one.
std::vector<uint8_t> CaptureStateFileBytes();
StateResult LoadStateBytes(const std::vector<uint8_t>& bytes, bool force_other_roms,
                           const std::string& path);

// The same in memory: the encoded state (without the picture), and its restoring. Host files are
// left as they are by RestoreStateBytes (they are not rewound), and ROM images are not compared.
std::vector<uint8_t> CaptureStateBytes();
StateResult RestoreStateBytes(const std::vector<uint8_t>& bytes);

// What a menu shows of a state file: when it was saved and the screen then.
struct StateSummary {
    int64_t saved_at = 0; // seconds since 1970 (UTC)
    bool has_picture = false;
    uint8_t picture[FrameLines][FrameLineBytes] = {};
};
// False, with error saying why, when the file is not a state this version can load.
bool ReadStateSummary(const std::string& path, StateSummary& summary, std::string& error);

// Hashes used by the format: FNV-1a 64 (the ROM images) and CRC-32 (the whole file).
uint64_t StateHash64(const uint8_t* data, size_t size);
uint32_t StateCrc32(const uint8_t* data, size_t size);
