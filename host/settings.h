// Settings: the two user settings, which are also the exact image of Lunabrik.cfg (260 bytes, no
// header): offset 0, 4 bytes, waitstates (signed little-endian: idle iterations before each
// instruction); offset 4, 256 bytes, files_folder (zero-ended folder prefix for host files).
//
// The running machine's waitstates is the bus's pacing word (cpu/bus.h), kept here: ReadSettings
// sets it and WriteSettings writes it, through Waitstates()/SetWaitstates() (relaxed atomics: the
// ProcessorThread reads it before every instruction, the Config dialog writes it). The record's
// waitstates field is its place in the file; the global record leaves it unused. files_folder is
// read by the host file service at every open and written by the Config dialog: through
// CopyFilesFolder()/SetFilesFolder() only, which take a lock (rare paths, never per instruction).
#pragma once

#include "cpu/bus.h" // Waitstates(), SetWaitstates()

#include <cstdint>
#include <string>

constexpr int SettingsFileSize = 260;
constexpr int FilesFolderSize = 256;
constexpr const char* SettingsFileName = "Lunabrik.cfg";
constexpr const char* DefaultFilesFolder = "Files/";

struct SettingsRecord {
    int32_t waitstates;                 // idle iterations before each instruction; <= 0: none
    char files_folder[FilesFolderSize]; // zero-ended prefix; bytes after the zero kept as read
};
static_assert(sizeof(SettingsRecord) == SettingsFileSize);

extern SettingsRecord Settings;

// Reads Lunabrik.cfg from the working directory once at start; the defaults when it is missing or
// is not a plain file (a folder, FIFO or device, also through a link).
void ReadSettings();
// Writes the record to Lunabrik.cfg (through a temporary file renamed over it). False when it
// failed.
bool WriteSettings();
// The folder as text: at most 255 characters, always zero-ended in out.
void CopyFilesFolder(char out[FilesFolderSize]);
// Sets the folder text (at most 255 characters are kept); the bytes after the zero are zeroed.
void SetFilesFolder(const char* folder);

// When waitstates would make one 20 ms tick of the machine take more than a second here (at
// idle_per_second, the processor's pacing wait measured on this computer) (a
// Lunabrik.cfg written as text, say, reads as a huge number): a one-line notice naming the value,
// the file it came from and, in how_to_set, how to set a speed. Empty otherwise.
std::string SlowWaitstatesNotice(int32_t waitstates, double idle_per_second,
                                 const std::string& file, const std::string& how_to_set);
