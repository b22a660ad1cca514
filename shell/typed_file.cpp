#include "shell/typed_file.h"

#include "common/utf8.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double Megabyte = 1024.0 * 1024.0;

// What a file that cannot be typed in is, for the message.
QString KindOf(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a FIFO";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFSOCK: return "a socket";
    default: return "not a plain file";
    }
}

// Megabytes to one decimal, rounded up, so a file just over the limit never shows as the limit.
QString MegabytesAbove(double bytes) {
    return QString::number(std::ceil(bytes / Megabyte * 10) / 10, 'f', 1);
}

// UTF-8 character by character; a byte that starts no valid UTF-8 character is that one Latin-1
// character. Returns how many such bytes there were.
qsizetype DecodeMixed(const std::string& bytes, QByteArray& utf8) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    qsizetype latin1 = 0;
    for (size_t i = 0; i < bytes.size();) {
        const size_t start = i;
        uint32_t cp = 0;
        if (DecodeUtf8(bytes.data(), bytes.size(), i, cp)) {
            out.append(bytes, start, i - start);
        } else {
            AppendUtf8(out, uint8_t(bytes[i]));
            ++latin1;
            ++i;
        }
    }
    utf8 = QByteArray::fromStdString(out);
    return latin1;
}

} // namespace

bool ReadTextForTyping(const QString& path, QByteArray& utf8, QString& error,
                       qsizetype* latin1_bytes) {
    if (latin1_bytes) *latin1_bytes = 0;
    const QString name = QFileInfo(path).fileName();
    // Non-blocking, so a FIFO (or a link to one) cannot hold the window: only a plain file is read.
    const QByteArray native = QFile::encodeName(path);
    const int fd = open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = QString("Cannot read %1: %2.").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QString("%1 is %2, not a text file.").arg(name, KindOf(st.st_mode));
        close(fd);
        return false;
    }
    const auto too_large = [&](const QString& size) {
        error = QString("%1 is too large to type in (%2 MB; the limit is %3 MB).")
                    .arg(name, size)
                    .arg(TypingFileLimit / (1024 * 1024));
        return false;
    };
    if (st.st_size > TypingFileLimit) {
        close(fd);
        return too_large(MegabytesAbove(double(st.st_size)));
    }
    // One byte more than the limit tells a file that grew meanwhile.
    const size_t most = size_t(TypingFileLimit) + 1;
    std::string bytes(size_t(st.st_size) + 1, '\0');
    // QFile reads until the buffer is full or the file ends.
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
    errno = 0;
    qint64 got = file.read(bytes.data(), qint64(bytes.size()));
    if (got == qint64(bytes.size()) && size_t(got) < most) { // it grew
        bytes.resize(most);
        const qint64 more = file.read(bytes.data() + got, qint64(most) - got);
        got = more < 0 ? more : got + more;
    }
    const int read_error = got < 0 ? (errno ? errno : EIO) : 0;
    bytes.resize(got < 0 ? 0 : size_t(got));
    file.close();
    close(fd);
    if (read_error != 0 && read_error != EAGAIN) {
        error =
            QString("Cannot read %1: %2.").arg(path, QString::fromLocal8Bit(strerror(read_error)));
        return false;
    }
    if (qint64(bytes.size()) > TypingFileLimit)
        return too_large("over " + MegabytesAbove(double(TypingFileLimit)));
    qsizetype control = 0;
    for (char c : bytes)
        if ((uint8_t(c) < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') || c == 0x7F)
            ++control;
    if (bytes.find('\0') != std::string::npos || control * 20 > qsizetype(bytes.size())) {
        error = QString("%1 is not a text file (it holds binary data).").arg(name);
        return false;
    }
    const qsizetype latin1 = DecodeMixed(bytes, utf8);
    if (latin1_bytes) *latin1_bytes = latin1;
    return true;
}
