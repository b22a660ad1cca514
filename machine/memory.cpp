#include "machine/memory.h"

#include "host/file_io.h"

#include <cstring>
#include <unistd.h>

alignas(64) uint8_t MachineMemory[MemorySize];
uint8_t LoadedBasicRom[BasicRomSize];
uint8_t LoadedDevDosRom[DevDosRomSize];

namespace {

// Reads up to size bytes of a file into memory at address; the count read is not looked at, so
// the fill values stand wherever a short file left nothing. False when the file won't open.
bool LoadImage(const char* name, uint16_t address, uint32_t size) {
    int fd = OpenPlainFileForReading(name);
    if (fd < 0) return false;
    ReadUpTo(fd, MachineMemory + address, size);
    close(fd);
    return true;
}

} // namespace

bool LoadAddressSpace(const char** missing_file) {
    std::memset(MachineMemory, 0xFF, sizeof MachineMemory);
    std::memset(MachineMemory + ScreenMemoryAddress, 0x20, ScreenMemorySize);
    std::memset(MachineMemory + 0x5800, 0x20, 0x800);
    const bool basic = LoadImage("basic.rom", BasicRomAddress, BasicRomSize);
    const bool dev_dos = basic && LoadImage("dev_dos.rom", DevDosRomAddress, DevDosRomSize);
    std::memcpy(LoadedBasicRom, MachineMemory + BasicRomAddress, BasicRomSize);
    std::memcpy(LoadedDevDosRom, MachineMemory + DevDosRomAddress, DevDosRomSize);
    if (!basic || !dev_dos) {
        if (missing_file) *missing_file = basic ? "dev_dos.rom" : "basic.rom";
        return false;
    }
    return true;
}
