#include "host/file_io.h"
#include "machine/host_files.h"

#include "machine/charmap.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileSlot FileSlots[FileSlotCount] = {
    {-1, false, 0, 0, {}, nullptr}, {-1, false, 0, 0, {}, nullptr}, {-1, false, 0, 0, {}, nullptr},
    {-1, false, 0, 0, {}, nullptr}, {-1, false, 0, 0, {}, nullptr}, {-1, false, 0, 0, {}, nullptr},
    {-1, false, 0, 0, {}, nullptr}, {-1, false, 0, 0, {}, nullptr},
};

namespace {

constexpr int NamePartSize = 8;
constexpr uint8_t OpenFailed = 1;
#ifdef O_PATH
constexpr int FolderAccess = O_PATH; // enough for openat and fstat, even in a folder we can't list
#else
constexpr int FolderAccess = O_RDONLY;
#endif
// Every open of a host file: never through a link in the name, never blocking on a FIFO (the flag
// is cleared once the file is known to be plain).
constexpr int HostOpenFlags = O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// The program's own files in the working directory: readable, never writable by the guest (a
// rewritten Lunabrik.cfg would move the files folder anywhere at the next start).
const char* const ProgramFiles[] = {"Lunabrik.cfg", "basic.rom", "dev_dos.rom", "font.bin"};

std::atomic<uint32_t> WarningCount{0};
std::mutex WarningLock; // orders LatestWarning between the ProcessorThread and a front end
HostFileWarning LatestWarning;

// Slot from B: 0-7, anything else slot 0.
uint8_t SlotNumber(uint8_t b) { return b < FileSlotCount ? b : 0; }
FileSlot& SelectedSlot(uint8_t b) { return FileSlots[SlotNumber(b)]; }

// The text for an errno value, without strerror's shared buffer (front-end threads may call it).
[[maybe_unused]] const char* PickErrorText(char* gnu, char*) { return gnu; }
[[maybe_unused]] const char* PickErrorText(int xsi, char* buffer) {
    return xsi == 0 ? buffer : "unknown error";
}
void CopyErrorText(int error, char out[HostFileWarningTextSize]) {
    char buffer[HostFileWarningTextSize];
    std::snprintf(out, HostFileWarningTextSize, "%s",
                  PickErrorText(strerror_r(error, buffer, sizeof buffer), buffer));
}

// folder + name, cut to fit (both come from the folder field, so they fit but for a stray case).
void JoinPath(char out[HostPathSize], const char* folder, const char* name) {
    size_t n = strnlen(folder, HostPathSize - 1);
    std::memcpy(out, folder, n);
    size_t m = strnlen(name, HostPathSize - 1 - n);
    std::memcpy(out + n, name, m);
    out[n + m] = 0;
}

// Records a warning for the front ends: reason, or the text of error when reason is null.
void RecordWarning(const char* path, const char* reason, int error) {
    std::lock_guard<std::mutex> lock(WarningLock);
    JoinPath(LatestWarning.path, path, "");
    if (reason)
        std::snprintf(LatestWarning.reason, sizeof LatestWarning.reason, "%s", reason);
    else
        CopyErrorText(error, LatestWarning.reason);
    LatestWarning.number = WarningCount.load(std::memory_order_relaxed) + 1;
    WarningCount.store(LatestWarning.number, std::memory_order_release);
}

// A write or the close of a written file on a slot a state load could not open again: nothing
// reaches the file, and the user is told.
void ReportLostSlot(const FileSlot& slot, const char* what) {
    char reason[HostFileWarningTextSize];
    std::snprintf(reason, sizeof reason, "%s, but it was closed when a state was loaded (%s)", what,
                  slot.lost);
    RecordWarning(slot.path, reason, 0);
}

void CloseSlot(FileSlot& slot) {
    slot.lost = nullptr;
    if (slot.fd < 0) return;
    // Also drops the flock. A written file can report a late write error here (network folders).
    if (close(slot.fd) != 0 && slot.writable && errno != EINTR)
        RecordWarning(slot.path, nullptr, errno);
    slot.fd = -1;
}

// Appends one record byte to the host name; false when the byte makes the name unacceptable.
// The six Swedish letters of the name record (Ä Ö Å ä ö å) become their UTF-8 forms through the
// character map; the set's other letters (É Ü é ü ¤) keep their ASCII bytes in host names.
bool AppendNameByte(uint8_t b, char*& out) {
    const bool letter = (b >= 0x5B && b <= 0x5D) || (b >= 0x7B && b <= 0x7D); // no '\\' ever
    if (b == ' ') return true;
    if (b == '/' || b < 0x20 || (b >= 0x7F && b < 0xA0)) return false;
    const uint32_t cp = letter ? TextCellCharacter(b) : b; // other high bytes: ISO 8859-1
    if (cp < 0x80) {
        *out++ = char(cp);
    } else { // all below U+0100: two UTF-8 bytes
        *out++ = char(0xC0 | cp >> 6);
        *out++ = char(0x80 | (cp & 0x3F));
    }
    return true;
}

// Byte i of s with letter case folded: ASCII A-Z, and the UTF-8 Ä Å É Ö Ü (C3 84, 85, 89, 96, 9C),
// whose lower-case forms are 0x20 higher in the second byte.
uint8_t FoldedByte(const char* s, size_t i) {
    uint8_t c = uint8_t(s[i]);
    if (c >= 'A' && c <= 'Z') return uint8_t(c + 0x20);
    if (i > 0 && uint8_t(s[i - 1]) == 0xC3 &&
        (c == 0x84 || c == 0x85 || c == 0x89 || c == 0x96 || c == 0x9C))
        return uint8_t(c + 0x20);
    return c;
}

bool SameApartFromCase(const char* a, const char* b) {
    size_t n = std::strlen(a);
    if (std::strlen(b) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (FoldedByte(a, i) != FoldedByte(b, i)) return false;
    return true;
}

// The one entry of the folder that equals name apart from letter case, into name; false when
// there is none or more than one.
bool FindByCase(int folder, char* name) {
    int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* listing = fdopendir(fd);
    if (!listing) {
        close(fd);
        return false;
    }
    char match[NAME_MAX + 1];
    int found = 0;
    while (const dirent* entry = readdir(listing))
        if (SameApartFromCase(entry->d_name, name) && ++found == 1)
            std::snprintf(match, sizeof match, "%s", entry->d_name);
    closedir(listing);
    if (found != 1) return false;
    std::memcpy(name, match, std::strlen(match) + 1); // same length as name
    return true;
}

bool IsProgramFile(const char* name) {
    for (const char* own : ProgramFiles)
        if (SameApartFromCase(name, own)) return true;
    return false;
}

bool IsWorkingDirectory(int folder) {
    struct stat here, there;
    return stat(".", &here) == 0 && fstat(folder, &there) == 0 && here.st_dev == there.st_dev &&
           here.st_ino == there.st_ino;
}

// Opens name (no '/' in it) in folder ("" or ending in '/'): a plain file with one link, never
// through a link; operation 1 creates it when neither it nor a file differing only in case exists.
// name becomes the name opened. Returns the descriptor (still non-blocking, not yet emptied) and
// its status in st, or -1 with refusal set to our reason or null for errno's.
int OpenInFolder(const char* folder, char* name, bool for_writing, struct stat& st,
                 const char*& refusal, bool may_create = true) {
    int dir = open(folder[0] ? folder : ".", FolderAccess | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    int fd = -1;
    if (for_writing && IsProgramFile(name) && IsWorkingDirectory(dir)) {
        refusal = "refused: one of the emulator's own files";
    } else {
        bool exists = fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists && errno == ENOENT) {
            exists = FindByCase(dir, name) && fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (!exists) errno = ENOENT;
        }
        // Looked at before opening, so that no device or FIFO is ever opened; checked again after.
        int access = for_writing ? O_WRONLY : O_RDONLY;
        if (!exists) {
            if (for_writing && may_create && errno == ENOENT)
                fd = openat(dir, name, access | O_CREAT | O_EXCL | HostOpenFlags, 0666);
        } else if (S_ISLNK(st.st_mode)) {
            refusal = "refused: a symbolic link";
        } else if (!S_ISREG(st.st_mode)) {
            refusal = "refused: not a plain file";
        } else if (st.st_nlink != 1) {
            refusal = "refused: the file has other hard links";
        } else {
            fd = openat(dir, name, access | HostOpenFlags);
        }
    }
    int error = errno;
    close(dir);
    errno = error;
    if (fd < 0) return -1;
    // The entry may have been replaced since it was looked at.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        refusal = "refused: not a plain file with one link";
        close(fd);
        return -1;
    }
    return fd;
}

// Opens the named file for the selected slot: read only (operation 0) or created/emptied for
// writing (operation 1), for exclusive use. Returns the new HL, the slot's buffer, whatever the
// outcome; sets the status last.
uint16_t OpenSlot(bool for_writing, PortRegisters r) {
    const uint8_t slot_number = SlotNumber(r.B);
    const uint16_t hl = uint16_t(SlotBufferBase + BlockSize * slot_number);
    FileSlot& slot = FileSlots[slot_number];
    CloseSlot(slot);

    // The folder field up to its last '/' names the folder; the rest prefixes the file name.
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    const char* slash = std::strrchr(folder, '/');
    size_t folder_length = slash ? size_t(slash - folder + 1) : 0;
    char name[HostPathSize];
    size_t prefix_length = std::strlen(folder) - folder_length;
    std::memcpy(name, folder + folder_length, prefix_length);
    bool name_ok = HostNameFromRecord(r.DE, name + prefix_length);
    folder[folder_length] = 0;

    const char* refusal = nullptr;
    struct stat st;
    int fd = -1;
    if (name_ok)
        fd = OpenInFolder(folder, name, for_writing, st, refusal);
    else
        refusal = "refused: not an allowed file name";
    bool ok = fd >= 0;
    for (const FileSlot& other : FileSlots)
        if (ok && other.fd >= 0 && other.device == st.st_dev && other.inode == st.st_ino) {
            refusal = "refused: already open in another file slot";
            ok = false;
        }
    if (ok && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) refusal = "in use by another program";
        ok = false;
    }
    // Emptied only once it is known to be ours, so a refused open never truncates anything.
    ok = ok && fcntl(fd, F_SETFL, 0) == 0;
    ok = ok && (!for_writing || ftruncate(fd, 0) == 0);
    int error = errno;
    if (ok) {
        slot.fd = fd;
        slot.writable = for_writing;
        slot.device = st.st_dev;
        slot.inode = st.st_ino;
        JoinPath(slot.path, folder, name);
    } else {
        if (fd >= 0) close(fd);
        if (for_writing) {
            char path[HostPathSize];
            JoinPath(path, folder, name);
            RecordWarning(path, refusal, error);
        }
    }
    WriteInPort(HostFilePort, ok ? 0 : OpenFailed);
    return hl;
}

} // namespace

bool HostNameFromRecord(uint16_t address, char out[HostNameSize]) {
    char* end = out;
    bool ok = true;
    for (int i = 0; i < NameRecordSize; ++i) {
        uint8_t b = ReadByte(uint16_t(address + i));
        if (b == 0) break; // a zero byte ends the name
        ok = AppendNameByte(b, end) && ok;
        if (i == NamePartSize - 1) *end++ = '.';
    }
    // A blank extension leaves a trailing point, which FAT and NTFS drop; drop it here too so the
    // same program finds the same file on every host.
    while (end > out && end[-1] == '.')
        --end;
    *end = 0;
    if (!ok || end == out) {
        out[0] = 0;
        return false;
    }
    return true;
}

uint16_t HostFileOpenRead(PortRegisters r) { return OpenSlot(false, r); }
uint16_t HostFileCreate(PortRegisters r) { return OpenSlot(true, r); }
uint16_t HostFileClose(PortRegisters r) {
    FileSlot& slot = SelectedSlot(r.B);
    if (slot.lost && slot.writable) ReportLostSlot(slot, "the program closed the file");
    CloseSlot(slot);
    return r.HL;
}

uint16_t HostFileReadBlock(PortRegisters r) {
    FileSlot& slot = SelectedSlot(r.B);
    if (slot.fd < 0 || slot.writable) return r.HL;
    // Bytes the file does not deliver leave memory as it was.
    uint8_t block[BlockSize];
    size_t got = ReadUpTo(slot.fd, block, sizeof block);
    for (size_t i = 0; i < got; ++i)
        WriteByte(uint16_t(r.HL + i), block[i]);
    return r.HL;
}

uint16_t HostFileWriteBlock(PortRegisters r) {
    FileSlot& slot = SelectedSlot(r.B);
    if (slot.lost) {
        ReportLostSlot(slot, "the program wrote to the file");
        return r.HL;
    }
    if (slot.fd < 0 || !slot.writable) return r.HL;
    uint8_t block[BlockSize];
    for (size_t i = 0; i < sizeof block; ++i)
        block[i] = ReadByte(uint16_t(r.HL + i));
    // Straight to the OS: another reader sees the block before the slot is closed. The guest is
    // not told of a failure (the status port is the last open's); the user is, through a warning.
    if (!WriteAll(slot.fd, block, sizeof block)) RecordWarning(slot.path, nullptr, errno);
    return r.HL;
}

void CloseAllFileSlots() {
    for (FileSlot& slot : FileSlots)
        CloseSlot(slot);
}

bool ReadFileSlot(int slot, FileSlotRecord& out) {
    if (slot < 0 || slot >= FileSlotCount || FileSlots[slot].fd < 0) return false;
    const FileSlot& f = FileSlots[slot];
    const off_t at = lseek(f.fd, 0, SEEK_CUR);
    const char* slash = std::strrchr(f.path, '/');
    std::snprintf(out.name, sizeof out.name, "%s", slash ? slash + 1 : f.path);
    out.writable = f.writable;
    out.position = at < 0 ? 0 : uint64_t(at);
    return true;
}

const char* ReopenFileSlot(int slot_number, const FileSlotRecord& record) {
    FileSlot& slot = FileSlots[slot_number];
    CloseSlot(slot);
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    const char* slash = std::strrchr(folder, '/');
    folder[slash ? size_t(slash - folder + 1) : 0] = 0;
    char name[HostPathSize];
    std::snprintf(name, sizeof name, "%s", record.name);
    if (!name[0] || std::strchr(name, '/') || !std::strcmp(name, ".") || !std::strcmp(name, ".."))
        return "not a plain file name";
    // The name must stay as saved: a match in another letter case is another file.
    struct stat st;
    const char* refusal = nullptr;
    int fd = OpenInFolder(folder, name, record.writable, st, refusal, false);
    if (fd >= 0 && std::strcmp(name, record.name) != 0) {
        close(fd);
        fd = -1;
        refusal = "gone";
    }
    const char* why = nullptr;
    if (fd < 0) why = refusal ? refusal : errno == ENOENT ? "gone" : "cannot be opened";
    for (const FileSlot& other : FileSlots)
        if (!why && other.fd >= 0 && other.device == st.st_dev && other.inode == st.st_ino)
            why = "refused: already open in another file slot";
    if (!why && flock(fd, LOCK_EX | LOCK_NB) != 0) why = "in use by another program";
    if (!why && uint64_t(st.st_size) < record.position) why = "shorter than when saved";
    if (!why && (fcntl(fd, F_SETFL, 0) != 0 || lseek(fd, off_t(record.position), SEEK_SET) < 0))
        why = "cannot be opened";
    if (why) {
        if (fd >= 0) close(fd);
        slot.lost = why;
        slot.writable = record.writable;
        JoinPath(slot.path, folder, name);
        return why;
    }
    slot.fd = fd;
    slot.writable = record.writable;
    slot.device = st.st_dev;
    slot.inode = st.st_ino;
    JoinPath(slot.path, folder, name);
    return nullptr;
}

uint32_t HostFileWarningCount() { return WarningCount.load(std::memory_order_acquire); }

bool ReadLatestHostFileWarning(HostFileWarning& out) {
    std::lock_guard<std::mutex> lock(WarningLock);
    if (LatestWarning.number == 0) return false;
    out = LatestWarning;
    return true;
}
