#include "system/startup.h"

#include "host/data_folder.h"
#include "host/settings.h"
#include "system/system.h"

#include <climits>
#include <cstring>
#include <iterator>
#include <unistd.h>

static_assert(SystemFolderRefusedExit == DataFolderRefused);

namespace {

// The one policy of each message, by StartupEvent.
constexpr StartupPolicy Policies[] = {
    StartupPolicy::Stop, // FolderRefused
    StartupPolicy::Stop, // ImageMissing
    StartupPolicy::Warn, // SlowSpeed
    StartupPolicy::Note, // FontMissing
    StartupPolicy::Note, // FilesFolderMade
    StartupPolicy::Note, // FilesFolderFailed
};
static_assert(std::size(Policies) == size_t(StartupEvent::FilesFolderFailed) + 1);

std::string CurrentFolder() {
    char here[PATH_MAX];
    return getcwd(here, sizeof here) ? std::string(here) : std::string(".");
}

// The folder the program was started in, read once.
const std::string& StartFolder() {
    static const std::string folder = CurrentFolder();
    return folder;
}

void Say(StartupReport& report, StartupEvent event, std::string text) {
    report.messages.push_back({event, Policies[size_t(event)], std::move(text)});
}

// The file, the folder it was looked for in, the folders looked in and how to supply the images.
std::string MissingImage(const char* file, const std::string& folder,
                         const std::vector<std::string>& looked_in) {
    std::string text =
        std::string("Cannot open ") + file + " in the folder " + folder + ".\nLooked in:";
    for (const std::string& f : looked_in)
        text += "\n  " + f;
    return text + "\nPut basic.rom, dev_dos.rom and font.bin (the free images are installed in "
                  "share/lunabrik) into one of these folders, or name one with --dir FOLDER.";
}

} // namespace

std::string StartupReport::Texts(StartupPolicy policy, const char* separator) const {
    std::string text;
    for (const StartupMessage& m : messages) {
        if (m.policy != policy) continue;
        if (!text.empty()) text += separator;
        text += m.text;
    }
    return text;
}

const StartupMessage* StartupReport::Stopped() const {
    for (const StartupMessage& m : messages)
        if (m.policy == StartupPolicy::Stop) return &m;
    return nullptr;
}

bool SystemStartUp(const StartupOptions& options, StartupReport& report) {
    report = StartupReport{};
    StartFolder(); // before the data folder becomes the working directory
    std::vector<std::string> looked_in;
    if (options.choose_folder) {
        DataFolderReport folder;
        if (!EnterDataFolder(options.folder, folder)) {
            Say(report, StartupEvent::FolderRefused, folder.error);
            return false;
        }
        looked_in = folder.looked_in;
    }
    report.folder = CurrentFolder();
    if (looked_in.empty()) looked_in.push_back(report.folder);

    BootOptions boot;
    boot.create_default_files_folder = options.create_files_folder;
    BootReport booted;
    if (!SystemBoot(boot, booted)) {
        report.missing_image = booted.missing_rom;
        Say(report, StartupEvent::ImageMissing,
            MissingImage(booted.missing_rom, report.folder, looked_in));
        return false;
    }
    report.font_loaded = booted.font_loaded;
    // A waitstates that all but stops the machine is said at once, not left to a still screen
    // (a Lunabrik.cfg written as text, say, reads as a huge number).
    if (Waitstates() > 0) {
        std::string slow =
            SlowWaitstatesNotice(Waitstates(), SystemPacingIterationsPerSecond(),
                                 report.folder + "/" + SettingsFileName, options.how_to_set_speed);
        if (!slow.empty()) Say(report, StartupEvent::SlowSpeed, std::move(slow));
    }
    if (booted.files_folder_created)
        Say(report, StartupEvent::FilesFolderMade,
            "Created the files folder Files/ in the working folder.");
    if (booted.files_folder_error)
        Say(report, StartupEvent::FilesFolderFailed,
            std::string("Cannot create the files folder Files/: ") +
                std::strerror(booted.files_folder_error) + ".");
    if (!booted.font_loaded)
        Say(report, StartupEvent::FontMissing,
            "font.bin is missing or unreadable: the display stays black.");
    report.started = true;
    return true;
}

std::string SystemPathFromStart(const std::string& path) {
    const std::string& start = StartFolder(); // read now, whatever the path
    if (path.empty() || path[0] == '/') return path;
    return start + "/" + path;
}

std::string SystemUserFolder() { return UserDataFolder(); }
