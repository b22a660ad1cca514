#include "host/file_io.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenPlainFileForReading(const char* name) {
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

size_t ReadUpTo(int fd, void* buffer, size_t size) {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

bool WriteAll(int fd, const void* data, size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) { // nothing taken and no error given: call it an I/O error
            errno = EIO;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

int CreateTemporaryBeside(const std::string& path, std::string& temp, unsigned mode) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint32_t random = 0;
        if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
            random =
                uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()) + attempt;
        // A short hidden name in the same folder: any name the folder takes can be written,
        // however close to the system's limit of 255 bytes.
        char name[24];
        std::snprintf(name, sizeof name, ".lb%08x.tmp", unsigned(random));
        const size_t slash = path.rfind('/');
        temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name;
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                      mode_t(mode));
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

int OpenPlainFileForWriting(const char* path, std::string& why) {
    const int fd =
        open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    const int error = errno;
    if (fd >= 0) close(fd);
    // A link gives ELOOP, a FIFO nobody reads ENXIO, a folder EISDIR: say what is there instead.
    why = OutputRefusal(path);
    if (!why.empty()) {
        errno = EEXIST;
        return -1;
    }
    why = std::strerror(error);
    errno = error;
    return -1;
}

const char* ProgramFileOf(int fd) {
    static const char* const names[] = {"basic.rom", "dev_dos.rom", "font.bin", "Lunabrik.cfg",
                                        "basic.rom.sym"};
    struct stat file, named;
    if (fstat(fd, &file) != 0) return nullptr;
    for (const char* name : names)
        if (stat(name, &named) == 0 && named.st_dev == file.st_dev && named.st_ino == file.st_ino)
            return name;
    return nullptr;
}

std::string OutputRefusal(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) return {}; // missing (or unreachable: the write will say)
    switch (st.st_mode & S_IFMT) {
    case S_IFREG: return {};
    case S_IFIFO: return "a FIFO";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFSOCK: return "a socket";
    case S_IFDIR: return "a folder";
    case S_IFLNK: return "a symbolic link";
    default: return "not a plain file";
    }
}

bool WriteFileReplacing(const char* path, const void* data, size_t size) {
    if (!OutputRefusal(path).empty()) {
        errno = EEXIST;
        return false;
    }
    std::string temp;
    int fd = CreateTemporaryBeside(path, temp, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data, size) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && !OutputRefusal(path).empty()) { // something else was put there meanwhile
        errno = EEXIST;
        ok = false;
    }
    if (ok) ok = std::rename(temp.c_str(), path) == 0;
    if (!ok) {
        const int error = errno;
        unlink(temp.c_str());
        errno = error;
        return false;
    }
    // Make the rename itself durable.
    std::string folder(path);
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
