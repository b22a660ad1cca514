#include "machine/memory.h"

#include "host/file_io.h"

#include <cstring>
#include <unistd.h>

alignas(64) uint8_t MachineMemory[MemorySize];

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
    if (!LoadImage("basic.rom", BasicRomAddress, BasicRomSize)) {
        if (missing_file) *missing_file = "basic.rom";
        return false;
    }
    if (!LoadImage("dev_dos.rom", DevDosRomAddress, DevDosRomSize)) {
        if (missing_file) *missing_file = "dev_dos.rom";
        return false;
    }
    return true;
}
