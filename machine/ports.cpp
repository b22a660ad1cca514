#include "machine/ports.h"

#include "machine/host_files.h"

std::atomic<uint32_t> KeyboardPortReads{0};
uint8_t InPorts[256];
uint8_t OutPorts[256];

const HostFileOperation HostFileService[HostFileOperationCount] = {
    HostFileOpenRead,   // 0: open an existing file for reading
    HostFileCreate,     // 1: create or empty a file for writing
    HostFileClose,      // 2: close the slot's file
    HostFileReadBlock,  // 3: read the next 256-byte block to (HL)
    HostFileWriteBlock, // 4: write 256 bytes from (HL) as the next block
};

uint16_t PortWrite(uint8_t port, uint8_t value, PortRegisters registers) {
    uint16_t hl = registers.HL;
    if (port == LatchPort)
        WriteInPort(LatchPort, uint8_t((ReadInPort(LatchPort) & 0x87) | (value & 0x78)));
    if (port == HostFilePort && value < HostFileOperationCount)
        hl = HostFileService[value](registers);
    OutPorts[port] = value;
    return hl;
}
