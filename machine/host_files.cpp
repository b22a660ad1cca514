#include "machine/file_io.h"
#include "machine/host_files.h"

#include "cpu/cpu_state.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "machine/settings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileSlot FileSlots[FileSlotCount] = {
    {-1, false, 0, 0}, {-1, false, 0, 0}, {-1, false, 0, 0}, {-1, false, 0, 0},
    {-1, false, 0, 0}, {-1, false, 0, 0}, {-1, false, 0, 0}, {-1, false, 0, 0},
};

namespace {

constexpr int NamePartSize = 8;
constexpr uint8_t OpenFailed = 1;

// Slot from B: 0-7, anything else slot 0.
FileSlot& SelectedSlot() { return FileSlots[CpuState.B < FileSlotCount ? CpuState.B : 0]; }

void CloseSlot(FileSlot& slot) {
    if (slot.fd < 0) return;
    close(slot.fd); // also drops the flock
    slot.fd = -1;
}

// Appends one record byte to the host name; false when the byte makes the name unacceptable.
bool AppendNameByte(uint8_t b, char*& out) {
    // The ABC80 set's Swedish letters, as UTF-8 (Ä Ö Å ä ö å).
    static const char* const Swedish[6] = {"\xC3\x84", "\xC3\x96", "\xC3\x85",
                                           "\xC3\xA4", "\xC3\xB6", "\xC3\xA5"};
    const char* letter = nullptr;
    if (b >= 0x5B && b <= 0x5D) letter = Swedish[b - 0x5B]; // 0x5C is Ö, so '\\' never occurs
    if (b >= 0x7B && b <= 0x7D) letter = Swedish[3 + b - 0x7B];
    if (b == ' ') return true;
    if (b == '/' || b < 0x20 || (b >= 0x7F && b < 0xA0)) return false;
    if (letter) {
        *out++ = letter[0];
        *out++ = letter[1];
    } else if (b >= 0xA0) { // other high bytes: their ISO 8859-1 letters
        *out++ = char(0xC0 | b >> 6);
        *out++ = char(0x80 | (b & 0x3F));
    } else {
        *out++ = char(b);
    }
    return true;
}

// Opens the named file for the selected slot: read only (operation 0) or created/emptied for
// writing (operation 1), for exclusive use. Sets HL first and the status last.
void OpenSlot(bool for_writing) {
    char path[HostPathSize];
    CopyFilesFolder(path);
    size_t folder_length = std::strlen(path);
    bool name_ok = HostNameFromRecord(CpuState.DE, path + folder_length);

    uint8_t slot_number = CpuState.B < FileSlotCount ? CpuState.B : 0;
    CpuState.HL = uint16_t(SlotBufferBase + BlockSize * slot_number);
    FileSlot& slot = FileSlots[slot_number];
    CloseSlot(slot);

    int fd = -1;
    if (name_ok) {
        // Non-blocking so that a FIFO in the folder cannot stall the processor; refused below.
        int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        flags |= for_writing ? O_WRONLY | O_CREAT : O_RDONLY;
        fd = open(path, flags, 0666);
    }
    struct stat st;
    bool ok = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    for (const FileSlot& other : FileSlots)
        if (ok && other.fd >= 0 && other.device == st.st_dev && other.inode == st.st_ino)
            ok = false;
    // Emptied only once it is known to be ours, so a refused open never truncates anything.
    ok = ok && flock(fd, LOCK_EX | LOCK_NB) == 0;
    ok = ok && fcntl(fd, F_SETFL, 0) == 0;
    ok = ok && (!for_writing || ftruncate(fd, 0) == 0);
    if (ok) {
        slot = FileSlot{fd, for_writing, st.st_dev, st.st_ino};
    } else if (fd >= 0) {
        close(fd);
    }
    WriteInPort(HostFilePort, ok ? 0 : OpenFailed);
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

void HostFileOpenRead() { OpenSlot(false); }
void HostFileCreate() { OpenSlot(true); }
void HostFileClose() { CloseSlot(SelectedSlot()); }

void HostFileReadBlock() {
    FileSlot& slot = SelectedSlot();
    if (slot.fd < 0 || slot.writable) return;
    // Bytes the file does not deliver leave memory as it was.
    uint8_t block[BlockSize];
    size_t got = ReadUpTo(slot.fd, block, sizeof block);
    for (size_t i = 0; i < got; ++i)
        WriteByte(uint16_t(CpuState.HL + i), block[i]);
}

void HostFileWriteBlock() {
    FileSlot& slot = SelectedSlot();
    if (slot.fd < 0 || !slot.writable) return;
    uint8_t block[BlockSize];
    for (size_t i = 0; i < sizeof block; ++i)
        block[i] = ReadByte(uint16_t(CpuState.HL + i));
    // Straight to the OS: another reader sees the block before the slot is closed.
    WriteAll(slot.fd, block, sizeof block);
}

void CloseAllFileSlots() {
    for (FileSlot& slot : FileSlots)
        CloseSlot(slot);
}
