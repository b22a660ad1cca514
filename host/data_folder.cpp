#include "host/data_folder.h"

#include "host/file_io.h"
#include "host/settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef LUNABRIK_SHARE_DIR
#define LUNABRIK_SHARE_DIR "/usr/local/share/lunabrik"
#endif

namespace {

constexpr const char* ImageNames[] = {"basic.rom", "dev_dos.rom", "font.bin"};
constexpr size_t MaxImageSize = 1 << 20;

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// mkdir -p, with mode 0755 for the folders it makes.
bool MakeFolders(const std::string& path) {
    std::string part;
    for (size_t i = 0; i <= path.size(); i++) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The installed free images: beside the program (bin/../share/lunabrik, so a relocated install
// works) or where the build was configured to install them.
std::string InstalledImageFolder() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = 0;
        std::string dir(exe);
        dir.erase(dir.rfind('/'));
        std::string share = dir + "/../share/lunabrik";
        if (Exists(share + "/basic.rom")) return share;
    }
    return LUNABRIK_SHARE_DIR;
}

// Copies one image into the folder unless a file by that name is already there. A temporary file
// is linked into place, so a file that appears meanwhile is never replaced.
bool CopyImage(const std::string& from, const std::string& to) {
    int in = OpenPlainFileForReading(from.c_str());
    if (in < 0) return false;
    std::string data(MaxImageSize, '\0');
    size_t size = ReadUpTo(in, data.data(), data.size());
    close(in);
    std::string temporary = to + ".part";
    int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out < 0) return false;
    bool ok = WriteAll(out, data.data(), size);
    if (close(out) != 0) ok = false;
    ok = ok && link(temporary.c_str(), to.c_str()) == 0;
    unlink(temporary.c_str());
    return ok;
}

bool PrepareFolder(const std::string& folder, DataFolderReport& report) {
    const bool new_folder = !Exists(folder);
    if (!MakeFolders(folder)) {
        report.error = "cannot create the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    report.images_from = InstalledImageFolder();
    for (const char* name : ImageNames) {
        const std::string target = folder + "/" + name;
        if (Exists(target)) continue;
        if (CopyImage(report.images_from + "/" + name, target)) report.installed.push_back(name);
    }
    // A folder made now starts at a real ABC80's pace with the installed Lunabrik.cfg; a folder
    // that was there keeps its settings (or the defaults of having none).
    if (new_folder &&
        CopyImage(report.images_from + "/" + SettingsFileName, folder + "/" + SettingsFileName))
        report.installed.push_back(SettingsFileName);
    mkdir((folder + "/Files").c_str(), 0755); // failure shows later as a failed open
    if (chdir(folder.c_str()) != 0) {
        report.error = "cannot enter the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

std::string UserDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/lunabrik";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + "/.local/share/lunabrik";
}

bool EnterDataFolder(const char* explicit_folder, DataFolderReport& report) {
    report = DataFolderReport{};
    std::string folder;
    if (explicit_folder && *explicit_folder) {
        folder = explicit_folder;
    } else {
        report.looked_in.push_back(CurrentFolder());
        if (Exists("basic.rom")) {
            report.folder = CurrentFolder();
            return true;
        }
        folder = UserDataFolder();
    }
    report.looked_in.push_back(folder);
    if (!PrepareFolder(folder, report)) return false;
    report.folder = CurrentFolder();
    return true;
}
