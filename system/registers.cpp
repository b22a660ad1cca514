#include "system/registers.h"

#include "cpu/bus.h"
#include "cpu/cpu_state.h"

#include <cctype>

namespace {

uint32_t GetR() { return 0; }
void SetR(uint32_t) {}
uint32_t GetHalted() { return (ReadControlFlags() & HALTED) ? 1 : 0; }
void SetHalted(uint32_t v) {
    if (v)
        SetControlFlags(HALTED);
    else
        ClearControlFlags(HALTED);
}

using W = RegisterWidth;
// One reader and one writer per register, on the member of the processor's state.
#define REG(name, member, width, listed)                                                           \
    {                                                                                              \
        name, width, listed, [] { return uint32_t(CpuState.member); },                             \
            [](uint32_t v) { CpuState.member = decltype(CpuState.member)(v); }                     \
    }

const RegisterEntry Table[] = {
    REG("PC", PC, W::Word, true),     REG("SP", SP, W::Word, true),
    REG("AF", AF, W::Word, true),     REG("BC", BC, W::Word, true),
    REG("DE", DE, W::Word, true),     REG("HL", HL, W::Word, true),
    REG("IX", IX, W::Word, true),     REG("IY", IY, W::Word, true),
    REG("AF'", AF_, W::Word, true),   REG("BC'", BC_, W::Word, true),
    REG("DE'", DE_, W::Word, true),   REG("HL'", HL_, W::Word, true),
    REG("I", I, W::Byte, true),       {"R", W::Byte, true, GetR, SetR},
    REG("IFF1", IFF1, W::Flag, true), REG("IFF2", IFF2, W::Flag, true),
    REG("IM", IM, W::Mode, true),     {"HALTED", W::Flag, true, GetHalted, SetHalted},
    REG("A", A, W::Byte, false),      REG("F", F, W::Byte, false),
    REG("B", B, W::Byte, false),      REG("C", C, W::Byte, false),
    REG("D", D, W::Byte, false),      REG("E", E, W::Byte, false),
    REG("H", H, W::Byte, false),      REG("L", L, W::Byte, false),
};
#undef REG

} // namespace

std::span<const RegisterEntry> RegisterTable() { return Table; }

const RegisterEntry* FindRegister(std::string_view name) {
    for (const RegisterEntry& r : Table) {
        const std::string_view n = r.name;
        if (n.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < n.size() && same; ++i) {
            const char c = name[i] == '_' && i + 1 == n.size() ? '\'' : name[i];
            same = std::toupper(uint8_t(c)) == n[i];
        }
        if (same) return &r;
    }
    return nullptr;
}

std::string RegisterFieldName(const RegisterEntry& r) {
    std::string field = r.name;
    for (char& c : field)
        c = c == '\'' ? '_' : char(std::tolower(uint8_t(c)));
    return field;
}
