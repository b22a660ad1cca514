#include "machine/memory.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

alignas(64) uint8_t MachineMemory[MemorySize];

namespace {

// Reads up to size bytes of a file into memory at address; the count read is not looked at, so
// the fill values stand wherever a short file left nothing. Returns 0 when the file won't open.
int LoadImage(const char* name, uint16_t address, uint32_t size) {
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, MachineMemory + address + done, size - done);
        if (n <= 0) break;
        done += uint32_t(n);
    }
    close(fd);
    return 1;
}

} // namespace

int LoadAddressSpace(const char** missing_file) {
    std::memset(MachineMemory, 0xFF, sizeof MachineMemory);
    std::memset(MachineMemory + ScreenMemoryAddress, 0x20, ScreenMemorySize);
    std::memset(MachineMemory + 0x5800, 0x20, 0x800);
    if (!LoadImage("basic.rom", BasicRomAddress, BasicRomSize)) {
        if (missing_file) *missing_file = "basic.rom";
        return 0;
    }
    if (!LoadImage("dev_dos.rom", DevDosRomAddress, DevDosRomSize)) {
        if (missing_file) *missing_file = "dev_dos.rom";
        return 0;
    }
    return 1;
}
