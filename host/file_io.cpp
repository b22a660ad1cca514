#include "host/file_io.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
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
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", unsigned(random));
        temp = path + "." + std::to_string(long(getpid())) + "." + suffix + ".tmp";
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                      mode_t(mode));
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
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
