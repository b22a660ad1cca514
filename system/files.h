// The settings and the files the front ends write through the core: Lunabrik.cfg's two values
// (the pace and the files folder), the picture of the screen as PBM or PNG, and any other output.
// Every output is written to a temporary file beside its path and renamed over it, so a failed
// write (a full disk, a file size limit) never leaves half a file, and never over what is not a
// plain file: a FIFO, device, socket, folder or symbolic link at the path is left alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// --- Lunabrik.cfg: in force at once, in the file when saved ---
constexpr const char* SystemSettingsName = "Lunabrik.cfg";
constexpr const char* SystemDefaultFilesFolder = "Files/";
constexpr size_t SystemFilesFolderLimit = 255; // bytes of the files folder that are kept

// The pace: -1 a real ABC80, 0 (or less) as fast as possible, N idle iterations before each
// instruction. The run's own pace (SystemSetRunPace) and turbo go over it.
int32_t SystemWaitstates();
void SystemSetWaitstates(int32_t waitstates);
// The files folder: the prefix of the names emulated programs open (relative to the data folder
// unless it starts with /). Its bytes as they are, UTF-8 or not; at most the first 255 are kept.
std::string SystemFilesFolder();
void SystemSetFilesFolder(const std::string& folder);

// --- Writing ---
struct OutputResult {
    bool ok = false;
    int error = 0;       // errno of the failed write; 0 when there is nothing the system said
    std::string refusal; // what is at the path when it is not a plain file ("a FIFO"), or empty

    // "not writing WHAT: it is a FIFO, not a plain file" or "cannot write WHAT: REASON"
    // (without the reason when there is none).
    std::string Problem(const std::string& what) const;
};

// Lunabrik.cfg in the data folder, from the values in force.
OutputResult SystemSaveSettings();
OutputResult SystemWriteFile(const std::string& path, const void* data, size_t size);

enum class PictureFormat : uint8_t {
    Pbm, // binary PBM, 240 x 240, 1 black
    Png, // one-bit greyscale PNG
};
// The screen as it is now (SystemPicture), one file pixel per pixel.
OutputResult SystemWritePicture(const std::string& path, PictureFormat format);
