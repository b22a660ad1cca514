// The host file service: emulated programs keep programs and data in host files through OUT 255.
//
//   OUT 255 value  operation                         registers
//   0              open an existing file, read only  B slot, DE name record; sets HL, status
//   1              create or empty a file, write     B slot, DE name record; sets HL, status
//   2              close                             B slot
//   3              read the next 256-byte block      B slot, HL buffer
//   4              write 256 bytes as next block     B slot, HL buffer
//
// B = 0-7 selects that slot, any other B slot 0. An open sets HL to 0xF500 + 256 * slot before the
// host is asked, and puts 0 (opened) or 1 (failed) in InPorts[255]. The name record is 11 bytes,
// 8 of name and 3 of extension, space padded, in the ABC80's Swedish 7-bit set.
//
// Confinement: files_folder is split at its last '/' into a folder (followed through links: the
// user chose it) and a name prefix ("Files/pre" + "X.BAS" is Files/preX.BAS). The file is opened
// relative to a descriptor of that folder, and refused (status 1, nothing created or changed) when
// the name is a symbolic link (dangling or not), a folder, FIFO or device, or a plain file with
// more than one hard link. When the folder is the working directory, Lunabrik.cfg, basic.rom,
// dev_dos.rom and font.bin (any letter case) may be read but never opened for writing.
// A name that does not exist exactly opens the one file in the folder that differs from it only in
// letter case (ASCII and Å Ä Ö É Ü); with two or more such files a read finds nothing and a create
// makes the name as given.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "cpu/bus.h"
#include "host/settings.h"

constexpr int FileSlotCount = 8;
constexpr uint16_t SlotBufferBase = 0xF500;
constexpr int BlockSize = 256;
constexpr int NameRecordSize = 11;

// The five operations, as port 255 runs them: each takes the registers of the OUT and returns HL as
// it leaves it (the slot's buffer after an open, else unchanged). None reads or changes any other
// register.
uint16_t HostFileOpenRead(PortRegisters registers);
uint16_t HostFileCreate(PortRegisters registers);
uint16_t HostFileClose(PortRegisters registers);
uint16_t HostFileReadBlock(PortRegisters registers);
uint16_t HostFileWriteBlock(PortRegisters registers);

// The host name of a record: spaces dropped, the six Swedish letters (0x5B-0x5D, 0x7B-0x7D) and
// bytes 0xA0-0xFF as UTF-8, a point after the name part, a zero byte ending the name early, and
// trailing points removed (so a blank extension gives "DATA", as on FAT and NTFS).
constexpr int HostNameSize = 2 * NameRecordSize + 2; // every byte as two UTF-8 bytes, point, zero
constexpr int HostPathSize = FilesFolderSize + HostNameSize; // folder (<= 255) + name + zero

// One file slot: an open host file descriptor (or -1), how it was opened, and its identity.
struct FileSlot {
    int fd;        // -1: no file
    bool writable; // opened by operation 1 (write only); else operation 0 (read only)
    dev_t device;  // identity of the open file, for the exclusive-use check
    ino_t inode;
    char path[HostPathSize]; // folder and name as opened, for warnings
    // A slot a loaded state had open whose file could not be opened again: the program still
    // thinks it open, so its writes and its close are failures the user is told of (path and
    // writable then describe the file as saved, fd stays -1).
    const char* lost; // why it could not be opened again, or null
};
// Touched by the ProcessorThread only, and by a saved state's taking and restoring while the
// processor is stopped (system/state.h).
extern FileSlot FileSlots[FileSlotCount];

// Builds the host name of the 11-byte record at address (wrapping past 0xFFFF). Returns false, with
// out empty, for a name the service refuses: empty, only points, or holding '/' or a control byte
// (below 0x20, 0x7F-0x9F). The record's 0x5C is the letter Ö, so a name never holds a '\\'.
bool HostNameFromRecord(uint16_t address, char out[HostNameSize]);

// Closes every slot's file (clean shutdown, tests).
void CloseAllFileSlots();

// What a saved machine keeps of an open slot: the name of its file inside the files folder (the
// folder setting's name prefix included), how it was opened and how far it has been read or
// written. False for a slot with no file.
struct FileSlotRecord {
    char name[HostPathSize]; // entry in the folder, e.g. "preGAME.BAS"; never holds '/'
    bool writable;
    uint64_t position; // bytes read or written so far
};
bool ReadFileSlot(int slot, FileSlotRecord& out);
// Opens the slot's file again by its name in the files folder now set, with the open rules above
// (no link, no folder or device, no second hard link, not another slot's file, not the program's
// own files for writing) but never creating, emptying or writing it, and moves to the position.
// Null when done; otherwise the slot is left closed and the reason is returned ("gone", "shorter
// than when saved", "refused: a symbolic link", ...), and a later write to the slot, or its close
// when it was opened for writing, is recorded as a warning. Closes whatever the slot had open
// first.
const char* ReopenFileSlot(int slot, const FileSlotRecord& record);

// Host write failures. The emulated program is not told (InPorts[255] keeps the status of the last
// open, and stored programs rely on that), so the service records each failed block write (full
// disk, file too large, I/O error, short write), each failed close of a written file, and each
// open for writing (operation 1) that fails or is refused, for the front ends to show the user.
// Recorded on the ProcessorThread; read from any thread.
constexpr int HostFileWarningTextSize = 128;
struct HostFileWarning {
    uint32_t number;                      // 1 for the first warning since start, then counting up
    char path[HostPathSize];              // folder and host name as opened, e.g. "Files/GAME.BAS"
    char reason[HostFileWarningTextSize]; // e.g. "No space left on device", "refused: a link"
};

// How many warnings have been recorded since start (acquire load: a cheap poll for a timer).
uint32_t HostFileWarningCount();
// Copies the latest warning into out; false, out untouched, when none has been recorded. Older
// warnings are not kept: out.number tells how many came before.
bool ReadLatestHostFileWarning(HostFileWarning& out);
