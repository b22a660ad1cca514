// The checked variant of the instruction tables, used only while the debugger watches memory or
// ports: the same tables compiled once more inside a namespace whose byte, word and port access
// note each watched data access; the access hook hears of them once the instruction is done (a
// call from inside would make the compiler keep every register in memory around each access). The
// plain tables in processor.cpp are untouched, so the fast path pays nothing for this.
#include "cpu/bus.h"
#include "cpu/cpu_state.h"
#include "cpu/processor.h"
#include "cpu/table.h" // before the tables below, so the stall count stays global

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

uint8_t WatchedAddresses[MemorySize];
uint8_t WatchedPorts[256];

namespace {

AccessHook Hook = nullptr;

// The watched accesses of the instruction being executed, in order; a block instruction that
// makes more keeps the first ones.
struct NotedAccess {
    uint16_t address;
    uint8_t kind;
    uint8_t value;
};
constexpr int MaxNotedAccesses = 16;
NotedAccess Noted[MaxNotedAccesses];
int NotedCount = 0;

inline void Note(uint16_t address, uint8_t kind, uint8_t value) {
    if (NotedCount < MaxNotedAccesses) Noted[NotedCount++] = {address, kind, value};
}

} // namespace

void SetAccessHook(AccessHook hook) { Hook = hook; }

namespace Checked {

// Unqualified calls in the tables below find these before the global ones.
inline uint8_t ReadByte(uint16_t address) {
    const uint8_t v = ::ReadByte(address);
    if (WatchedAddresses[address] & AccessRead) [[unlikely]]
        Note(address, AccessRead, v);
    return v;
}
inline void WriteByte(uint16_t address, uint8_t value) {
    ::WriteByte(address, value);
    if (WatchedAddresses[address] & AccessWrite) [[unlikely]]
        Note(address, AccessWrite, value);
}
inline uint16_t ReadWord(uint16_t address) {
    return uint16_t(ReadByte(address) | ReadByte(uint16_t(address + 1)) << 8);
}
inline void WriteWord(uint16_t address, uint16_t value) {
    WriteByte(address, uint8_t(value));
    WriteByte(uint16_t(address + 1), uint8_t(value >> 8));
}
inline uint8_t PortRead(uint8_t port) {
    const uint8_t v = ::PortRead(port);
    if (WatchedPorts[port] & AccessIn) [[unlikely]]
        Note(port, AccessIn, v);
    return v;
}
inline uint16_t PortWrite(uint8_t port, uint8_t value, PortRegisters registers) {
    if (WatchedPorts[port] & AccessOut) [[unlikely]]
        Note(port, AccessOut, value);
    return ::PortWrite(port, value, registers);
}

// clang-format off
#include "cpu/main_table.h"
// clang-format on

} // namespace Checked

CheckedStep ExecuteChecked(uint16_t pc) {
    const uint16_t start = pc;
    uint64_t tstates = 0;
    const uint8_t op = ::ReadByte(pc++); // the opcode fetch is not a data access
    NotedCount = 0;
    Checked::MainTable::Execute(op, pc, tstates);
    if (NotedCount) [[unlikely]] {
        CpuState.PC = start;
        for (int i = 0; i < NotedCount; ++i)
            if (Hook(start, Noted[i].address, Noted[i].kind, Noted[i].value)) break;
    }
    return {pc, uint32_t(tstates)};
}
