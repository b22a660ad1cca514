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
#pragma once

#include <cstdint>

constexpr int FileSlotCount = 8;
constexpr uint16_t SlotBufferBase = 0xF500;
constexpr int BlockSize = 256;
constexpr int NameRecordSize = 11;

void HostFileOpenRead();
void HostFileCreate();
void HostFileClose();
void HostFileReadBlock();
void HostFileWriteBlock();
