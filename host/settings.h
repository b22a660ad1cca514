// Settings: the two user settings, which are also the exact image of Lunabrik.cfg (260 bytes, no
// header): offset 0, 4 bytes, waitstates (signed little-endian: idle iterations before each
// instruction); offset 4, 256 bytes, files_folder (zero-ended folder prefix for host files).
//
// Threads: waitstates is read by the ProcessorThread before every instruction and written by the
// Config dialog: relaxed atomic access through Waitstates()/SetWaitstates(). files_folder is read
// by the host file service at every open and written by the Config dialog: through
// CopyFilesFolder()/SetFilesFolder() only, which take a lock (rare paths, never per instruction).
#pragma once

#include <atomic>
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

inline int32_t Waitstates() {
    return std::atomic_ref<int32_t>(Settings.waitstates).load(std::memory_order_relaxed);
}
inline void SetWaitstates(int32_t n) {
    std::atomic_ref<int32_t>(Settings.waitstates).store(n, std::memory_order_relaxed);
}

// Reads Lunabrik.cfg from the working directory once at start; the defaults when it is missing or
// is not a plain file (a folder, FIFO or device, also through a link).
void ReadSettings();
// Writes the record to Lunabrik.cfg (through a temporary file renamed over it). 1 ok, 0 failed.
int WriteSettings();
// The folder as text: at most 255 characters, always zero-ended in out.
void CopyFilesFolder(char out[FilesFolderSize]);
// Sets the folder text (at most 255 characters are kept); the bytes after the zero are zeroed.
void SetFilesFolder(const char* folder);

// Idle iterations per second of the processor's pacing wait on this computer, measured once (a
// few milliseconds) and remembered.
double PacingIterationsPerSecond();

// When waitstates would make one 20 ms tick of the machine take more than a second here (a
// Lunabrik.cfg written as text, say, reads as a huge number): a one-line notice naming the value,
// the file it came from and, in how_to_set, how to set a speed. Empty otherwise.
std::string SlowWaitstatesNotice(int32_t waitstates, double idle_per_second,
                                 const std::string& file, const std::string& how_to_set);
