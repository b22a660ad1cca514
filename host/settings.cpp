#include "host/file_io.h"
#include "host/settings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

SettingsRecord Settings;
int32_t WaitstatesSetting = 0;
int32_t PaceSetting = 0;
int32_t PaceOverride = NoPaceOverride;
uint32_t PaceBudgetSetting = RealAbc80TstatesPerTick;
uint32_t PaceChangeCount = 0;

namespace {

std::mutex FolderLock; // orders files_folder between the Config dialog and file-service opens

// The settings file's byte image of the record: waitstates little-endian, then the folder field.
void EncodeSettings(uint8_t image[SettingsFileSize]) {
    uint32_t w = uint32_t(Waitstates());
    for (int i = 0; i < 4; ++i)
        image[i] = uint8_t(w >> (8 * i));
    std::lock_guard<std::mutex> lock(FolderLock);
    std::memcpy(image + 4, Settings.files_folder, FilesFolderSize);
}

// A tick of a real ABC80 is 60,000 T-states; the longest instruction takes 23, so a tick runs at
// least this many instructions, each after its pacing wait.
constexpr double FewestInstructionsPerTick = 60000.0 / 23;

} // namespace

std::string SlowWaitstatesNotice(int32_t waitstates, double idle_per_second,
                                 const std::string& file, const std::string& how_to_set) {
    if (waitstates <= 0 || idle_per_second <= 0) return {};
    const double seconds = waitstates * FewestInstructionsPerTick / idle_per_second;
    if (seconds <= 1) return {};
    char at_least[32];
    std::snprintf(at_least, sizeof at_least, "%.0f s", seconds);
    const std::string notice = "waitstates " + std::to_string(waitstates) + ", read from " + file +
                               ", makes each 20 ms tick of the machine take at least " + at_least +
                               " on this computer; ";
    return notice + how_to_set;
}

void ReadSettings() {
    uint8_t image[SettingsFileSize] = {};
    // Only a plain file counts: a folder, a FIFO or a device by that name (or a link to one) gives
    // the defaults as a missing file does, and start-up never waits on one.
    int fd = OpenPlainFileForReading(SettingsFileName);
    if (fd < 0) {
        SetWaitstates(0);
        SetFilesFolder(DefaultFilesFolder);
        return;
    }
    // A short file fills only the bytes it holds; the rest of the record stays zero.
    ReadUpTo(fd, image, sizeof image);
    close(fd);
    SetWaitstates(int32_t(uint32_t(image[0]) | uint32_t(image[1]) << 8 | uint32_t(image[2]) << 16 |
                          uint32_t(image[3]) << 24));
    std::lock_guard<std::mutex> lock(FolderLock);
    std::memcpy(Settings.files_folder, image + 4, FilesFolderSize);
}

bool WriteSettings() {
    uint8_t image[SettingsFileSize];
    EncodeSettings(image);

    // Through a temporary file renamed over Lunabrik.cfg: never a half-written settings file.
    return WriteFileReplacing(SettingsFileName, image, sizeof image);
}

void CopyFilesFolder(char out[FilesFolderSize]) {
    std::lock_guard<std::mutex> lock(FolderLock);
    // A field without a zero byte ends at its last byte: at most 255 characters.
    size_t n = strnlen(Settings.files_folder, FilesFolderSize - 1);
    std::memcpy(out, Settings.files_folder, n);
    out[n] = 0;
}

void SetFilesFolder(const char* folder) {
    size_t n = strnlen(folder, FilesFolderSize - 1);
    std::lock_guard<std::mutex> lock(FolderLock);
    std::memset(Settings.files_folder, 0, FilesFolderSize);
    std::memcpy(Settings.files_folder, folder, n);
}
