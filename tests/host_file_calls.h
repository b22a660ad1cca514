// The host file service driven as the emulated program drives it: an OUT to port 255 with the
// arguments in B, DE and HL. Shared by the host file test files.
#pragma once

#include "cpu/cpu_state.h"
#include "machine/host_files.h"
#include "machine/memory.h"
#include "machine/ports.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace host_file_calls {

constexpr uint16_t NameAt = 0x5000;
enum { OpenRead = 0, Create = 1, Close = 2, ReadBlock = 3, WriteBlock = 4 };

// OUT 255 as the processor makes it: the registers go in, HL comes back.
inline void Out255(int operation) {
    auto& s = CpuState;
    s.HL = PortWrite(HostFilePort, uint8_t(operation), {s.B, s.DE, s.HL});
}

inline void PutRecord(uint16_t at, const std::string& record) {
    ASSERT_EQ(record.size(), size_t(NameRecordSize));
    for (int i = 0; i < NameRecordSize; ++i)
        WriteByte(uint16_t(at + i), uint8_t(record[size_t(i)]));
}

// OUT 255 with B = slot and the record at DE; returns the status port.
inline uint8_t Open(int operation, uint8_t slot, const std::string& record) {
    PutRecord(NameAt, record);
    CpuState.B = slot;
    CpuState.DE = NameAt;
    Out255(operation);
    return ReadInPort(HostFilePort);
}

inline void Service(int operation, uint8_t slot, uint16_t hl) {
    CpuState.B = slot;
    CpuState.HL = hl;
    Out255(operation);
}

inline std::string Memory(uint16_t at, size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = char(ReadByte(uint16_t(at + i)));
    return s;
}

} // namespace host_file_calls
