// The processor's registers by name: one table that the debugger (DebugGetRegister, conditions),
// the control protocol and the debugger window all list, read and write through.
//
// read and write touch the processor's state directly: call them on the processor's thread or
// while the machine stands still (DebugGetRegister and DebugSetRegister check that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum class RegisterWidth : uint8_t {
    Byte, // 0-255
    Word, // 0-65535
    Mode, // the interrupt mode, 0-2
    Flag, // 0 or 1
};
constexpr uint32_t RegisterMax(RegisterWidth w) {
    return w == RegisterWidth::Byte   ? 0xFF
           : w == RegisterWidth::Word ? 0xFFFF
           : w == RegisterWidth::Mode ? 2
                                      : 1;
}

struct RegisterEntry {
    const char* name; // "PC", "AF'", "IFF1"
    RegisterWidth width;
    bool listed; // a front end lists it; the 8-bit halves are reached by name only
    uint32_t (*read)();
    void (*write)(uint32_t value); // value within RegisterMax(width)
};

// PC SP AF BC DE HL IX IY AF' BC' DE' HL' I R IFF1 IFF2 IM HALTED (listed, in this order), then
// A F B C D E H L. The processor has no refresh register: R reads 0 and ignores writes.
std::span<const RegisterEntry> RegisterTable();

// The entry for name, case-insensitive; "AF_" names AF' (a protocol's field has no quote).
// Null for an unknown name.
const RegisterEntry* FindRegister(std::string_view name);

// The name as a protocol field: lower case, ' as _ ("af_").
std::string RegisterFieldName(const RegisterEntry& r);
