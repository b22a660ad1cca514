#include "system/startup.h"

#include "cpu/processor.h"
#include "display/display.h"
#include "display/render_event.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "host/settings.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

// The default folder is created one level deep, only when nothing by that name exists.
void PrepareFilesFolder(StartupReport& report) {
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    if (std::strcmp(folder, DefaultFilesFolder) != 0) return;
    struct stat st;
    if (lstat(folder, &st) == 0) return;
    if (mkdir(folder, 0777) == 0)
        report.files_folder_created = true;
    else
        report.files_folder_error = errno;
}

} // namespace

bool StartMachine(const StartupOptions& options, StartupReport& report) {
    report = StartupReport{};
    ReadSettings();
    const char* missing = nullptr;
    if (!LoadAddressSpace(&missing)) {
        report.missing_rom = missing ? missing : "basic.rom";
        return false;
    }
    report.font_loaded = BuildCharacterGenerator() == 1;
    if (options.create_default_files_folder) PrepareFilesFolder(report);
    ProcessorReset();
    return true;
}

void MachineTick(RenderEvent* render_event) {
    SetControlFlags(TICK);
    if (render_event) {
        render_event->Signal();
    } else {
        RenderFrame();
        frame_count++;
    }
}
