#include "host/data_folder.h"

#include "host/file_io.h"
#include "host/settings.h"

#include <cerrno>
#include <climits>
#include <cstdio>
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

// mkdir -p, with mode 0755 for the folders it makes, and last_mode for the last one.
bool MakeFolders(const std::string& path, mode_t last_mode) {
    std::string part;
    for (size_t i = 0; i <= path.size(); i++) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            part = path.substr(0, i);
            const mode_t mode = i == path.size() ? last_mode : 0755;
            if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder holding the running program, or empty.
std::string ProgramFolder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = 0;
    std::string dir(exe);
    dir.erase(dir.rfind('/'));
    return dir;
}

// The source folder a build was configured from, as its CMakeCache.txt names it, or empty.
std::string BuildSourceFolder(const std::string& build) {
    const int fd = OpenPlainFileForReading((build + "/CMakeCache.txt").c_str());
    if (fd < 0) return {};
    std::string cache(1 << 20, '\0');
    cache.resize(ReadUpTo(fd, cache.data(), cache.size()));
    close(fd);
    const std::string key = "\nCMAKE_HOME_DIRECTORY:INTERNAL=";
    const size_t at = cache.find(key);
    if (at == std::string::npos) return {};
    const size_t from = at + key.size();
    return cache.substr(from, cache.find('\n', from) - from);
}

// Whether path is folder or lies below it (both absolute, without links).
bool Within(const std::string& path, const std::string& folder) {
    return !folder.empty() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/' || folder == "/");
}

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// A program of a build (build/release/shell/lunabrik, build/release/tools/lunabrik-headless)
// started from anywhere in the source tree or the build folder works in that build's run folder,
// as make run starts it: the folder above the program's holds the build's CMakeCache.txt and the
// run folder run/ with basic.rom. Empty for an installed program, and for one started elsewhere
// (which goes on to the per-user folder).
std::string BuildRunFolder() {
    const std::string dir = ProgramFolder();
    const size_t slash = dir.rfind('/');
    if (dir.empty() || slash == std::string::npos || slash == 0) return {};
    const std::string build = dir.substr(0, slash);
    if (!Exists(build + "/run/basic.rom")) return {};
    const std::string here = CurrentFolder();
    const std::string source = Resolved(BuildSourceFolder(build));
    if (source.empty()) return {};
    if (!Within(here, source) && !Within(here, Resolved(build))) return {};
    return build + "/run";
}

// Copies one image into the working directory unless a file by that name is already there. The
// copy goes to a temporary file of this process's own (so first starts at the same time never
// write into each other's copy) and is linked into place, so a file that appears meanwhile is
// never replaced.
bool CopyImage(const std::string& from, const std::string& to) {
    int in = OpenPlainFileForReading(from.c_str());
    if (in < 0) return false;
    std::string data(MaxImageSize, '\0');
    size_t size = ReadUpTo(in, data.data(), data.size());
    close(in);
    std::string temporary;
    int out = CreateTemporaryBeside(to, temporary, 0644);
    if (out < 0) return false;
    bool ok = WriteAll(out, data.data(), size);
    if (close(out) != 0) ok = false;
    ok = ok && link(temporary.c_str(), to.c_str()) == 0;
    unlink(temporary.c_str());
    return ok;
}

// Whether a folder's mode lets others than user put or replace files in it: writable by all, or by
// a group other than the user's own primary group (a private group, as many systems give every
// user, is the user alone), without the sticky bit that keeps each user to their own files.
bool OthersMayReplace(const struct stat& st, uid_t user) {
    if (st.st_mode & S_ISVTX) return false;
    if (st.st_mode & S_IWOTH) return true;
    const passwd* pw = getpwuid(user);
    return (st.st_mode & S_IWGRP) && !(pw && pw->pw_gid == st.st_gid);
}

// Why the folder just entered cannot be trusted as the per-user folder: it belongs to another
// user, others may write into it (and so put images or a Lunabrik.cfg of theirs there), others may
// rename it away in its parent folder, or an image or the settings in it may be written by others.
// Empty when it is the user's own.
std::string Untrusted(const std::string& folder, uid_t user) {
    struct stat st;
    if (stat(".", &st) != 0)
        return "cannot examine the folder " + folder + ": " + std::strerror(errno);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    const std::string advice =
        "; Lunabrik uses only a per-user folder of your own that others cannot write. Make it "
        "yours (or remove it to have it made anew), or name a folder with --dir FOLDER";
    if (st.st_uid != user)
        return "the per-user folder " + folder + " belongs to another user (uid " +
               std::to_string(long(st.st_uid)) + ")" + advice;
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return "the per-user folder " + folder + " can be written by other users (mode " + mode +
               ")" + advice;
    const size_t slash = folder.rfind('/');
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    struct stat up;
    if (stat("..", &up) != 0)
        return "cannot examine the folder " + parent + ": " + std::strerror(errno);
    std::snprintf(mode, sizeof mode, "%04o", unsigned(up.st_mode & 07777));
    if ((up.st_uid != user && up.st_uid != 0) || OthersMayReplace(up, user))
        return "the folder " + parent + " that holds the per-user folder can be written by other " +
               "users (mode " + mode + ", uid " + std::to_string(long(up.st_uid)) +
               "), who could put a folder of theirs in its place" + advice;
    for (const char* name : {"basic.rom", "dev_dos.rom", "font.bin", SettingsFileName}) {
        struct stat image;
        if (stat(name, &image) != 0) continue; // missing: copied in or said later
        std::snprintf(mode, sizeof mode, "%04o", unsigned(image.st_mode & 07777));
        if ((image.st_uid != user && image.st_uid != 0) || (image.st_mode & (S_IWGRP | S_IWOTH)))
            return folder + "/" + name + " in the per-user folder can be written by other users " +
                   "(mode " + mode + ", uid " + std::to_string(long(image.st_uid)) + ")" + advice;
    }
    return {};
}

// Enters the folder (made when missing), checks it when it is the per-user folder, then gives it
// the images it lacks and a Files/ folder. Everything after the check works relative to the
// folder entered, so swapping the path meanwhile changes nothing.
bool PrepareFolder(const std::string& folder, bool per_user, const DataFolderChecks& checks,
                   DataFolderReport& report) {
    const bool new_folder = !Exists(folder);
    // A new per-user folder is private whatever the umask, so the check below passes for it.
    if (!MakeFolders(folder, per_user ? 0700 : 0755)) {
        report.error = "cannot create the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    const int previous = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (chdir(folder.c_str()) != 0) {
        report.error = "cannot enter the folder " + folder + ": " + std::strerror(errno);
        if (previous >= 0) close(previous);
        return false;
    }
    if (per_user) report.error = Untrusted(folder, checks.user);
    if (previous >= 0) {
        // Refused: back where the program started, nothing made in the folder.
        if (!report.error.empty() && fchdir(previous) != 0) report.error += " (and cannot return)";
        close(previous);
    }
    if (!report.error.empty()) return false;
    report.images_from = checks.images.empty() ? InstalledImageFolder() : checks.images;
    for (const char* name : ImageNames) {
        if (Exists(name)) continue;
        if (CopyImage(report.images_from + "/" + name, name)) report.installed.push_back(name);
    }
    // A folder made now starts at a real ABC80's pace with the installed Lunabrik.cfg; a folder
    // that was there keeps its settings (or the defaults of having none).
    if (new_folder && CopyImage(report.images_from + "/" + SettingsFileName, SettingsFileName))
        report.installed.push_back(SettingsFileName);
    MakeDefaultFilesFolder(); // a failure shows later as a failed open
    return true;
}

} // namespace

// The installed free images: beside the program (bin/../share/lunabrik, so a relocated install
// works) or where the build was configured to install them.
std::string InstalledImageFolder() {
    if (const std::string dir = ProgramFolder(); !dir.empty()) {
        std::string share = dir + "/../share/lunabrik";
        if (Exists(share + "/basic.rom")) return share;
    }
    return LUNABRIK_SHARE_DIR;
}

std::string UserDataFolder(uid_t user) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/lunabrik";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = getpwuid(user); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
        home = pw->pw_dir;
    } else {
        return {}; // no home: never a shared folder such as /tmp in its place
    }
    return home + "/.local/share/lunabrik";
}

bool EnterDataFolder(const char* explicit_folder, DataFolderReport& report,
                     const DataFolderChecks& checks) {
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
        if (const std::string run = BuildRunFolder(); !run.empty()) {
            report.looked_in.push_back(run);
            if (chdir(run.c_str()) != 0) {
                report.error =
                    "cannot enter the build's run folder " + run + ": " + std::strerror(errno);
                return false;
            }
            report.folder = CurrentFolder();
            return true;
        }
        folder = UserDataFolder(checks.user);
        if (folder.empty()) {
            report.error = "no per-user folder: neither XDG_DATA_HOME nor HOME is set and the "
                           "user has no home folder; name a folder with --dir FOLDER";
            return false;
        }
    }
    report.looked_in.push_back(folder);
    const bool per_user = !(explicit_folder && *explicit_folder);
    if (!PrepareFolder(folder, per_user, checks, report)) return false;
    report.folder = CurrentFolder();
    return true;
}

int MakeDefaultFilesFolder() {
    struct stat st;
    if (lstat("Files", &st) == 0) return -1;
    return mkdir("Files", 0755) == 0 ? 0 : errno;
}
