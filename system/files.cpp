#include "system/files.h"

#include "display/picture_files.h"
#include "host/file_io.h"
#include "host/settings.h"
#include "system/system.h"

#include <cerrno>
#include <cstring>
#include <string_view>

static_assert(std::string_view(SystemSettingsName) == SettingsFileName);
static_assert(std::string_view(SystemDefaultFilesFolder) == DefaultFilesFolder);
static_assert(SystemFilesFolderLimit == FilesFolderSize - 1);

namespace {

// The result of a write that returned ok, errno taken before anything can change it.
OutputResult Result(bool ok, const char* path) {
    OutputResult r;
    r.ok = ok;
    if (ok) return r;
    r.error = errno;
    r.refusal = OutputRefusal(path);
    return r;
}

} // namespace

std::string OutputResult::Problem(const std::string& what) const {
    if (!refusal.empty())
        return "not writing " + what + ": it is " + refusal + ", not a plain file";
    if (!error) return "cannot write " + what;
    return "cannot write " + what + ": " + std::strerror(error);
}

int32_t SystemWaitstates() { return Waitstates(); }

void SystemSetWaitstates(int32_t waitstates) { SetWaitstates(waitstates); }

std::string SystemFilesFolder() {
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    return folder;
}

void SystemSetFilesFolder(const std::string& folder) {
    SetFilesFolder(folder.substr(0, SystemFilesFolderLimit).c_str());
}

OutputResult SystemSaveSettings() { return Result(WriteSettings(), SettingsFileName); }

OutputResult SystemWriteFile(const std::string& path, const void* data, size_t size) {
    return Result(WriteFileReplacing(path.c_str(), data, size), path.c_str());
}

OutputResult SystemWritePicture(const std::string& path, PictureFormat format) {
    uint8_t frame[FrameLines][FrameLineBytes];
    SystemPicture(frame);
    const bool ok = format == PictureFormat::Pbm ? WriteFramePbm(path.c_str(), frame)
                                                 : WriteFramePng(path.c_str(), frame);
    return Result(ok, path.c_str());
}
