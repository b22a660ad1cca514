// The free BASIC's packer (rom/pack_lz.cpp) against the unpacker in the basic.rom built here, run
// on the processor: what comes out at 0x4000 must be what went in, for streams with the cases the
// real library seldom has (copies longer than 256 bytes, distances far past 256, copies from
// basic.rom below the output). And the ROM's own conversions between whole numbers and floats,
// which the compiled C calls, against the host's.
#include "cpu/bus.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#ifndef LUNABRIK_PACK_LZ
#define LUNABRIK_PACK_LZ "" // built without the free ROM
#endif

namespace {

// The address of a routine in the symbol file ("name = 0x1234" lines); 0 when it is not there.
uint16_t SymbolAddress(const std::string& sym, const std::string& name) {
    const size_t at = sym.find("\n" + name + " = 0x");
    return at == std::string::npos
               ? 0
               : uint16_t(std::strtoul(sym.c_str() + at + name.size() + 4, nullptr, 16));
}

int Pack(size_t room) {
    const std::string command = std::string(LUNABRIK_PACK_LZ) + " basic.rom in.bin out.lz " +
                                std::to_string(room) + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Calls the routine at address with the registers as set; false when it does not return.
bool Call(uint16_t address) {
    LoadCode(0xF000, {0xCD, uint8_t(address), uint8_t(address >> 8), 0x76}); // CALL; HALT
    CpuState.SP = 0xF500;
    ClearControlFlags(HALTED);
    for (int i = 0; i < 2000000; i++) {
        ExecuteInstruction();
        if (ReadControlFlags() & HALTED) return true;
    }
    return false;
}

TEST(PackLz, UnpackerOnTheProcessorGivesBackWhatWasPacked) {
    const std::string images = LUNABRIK_IMAGES;
    if (!*LUNABRIK_PACK_LZ || access((images + "/basic.rom.sym").c_str(), F_OK) != 0)
        GTEST_SKIP() << "the free ROM is not built";
    const std::string rom = ReadAll(images + "/basic.rom");
    const uint16_t unpack = SymbolAddress(ReadAll(images + "/basic.rom.sym"), "unpack_lz");
    ASSERT_EQ(rom.size(), 0x4000u);
    ASSERT_NE(unpack, 0);

    std::mt19937 random(7);
    auto noise = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; i++)
            s += char(random());
        return s;
    };
    const struct {
        const char* what;
        std::string data;
    } cases[] = {
        {"one byte", "A"},
        {"only noise", noise(700)},
        {"a run of 1000", std::string(1, 'x') + std::string(1000, '\0') + noise(3)},
        {"basic.rom's own bytes", rom.substr(0x200, 90) + noise(5) + rom.substr(0x3000, 300)},
        {"copies from far back",
         [&] {
             std::string s = noise(3000);
             return s + s.substr(100, 700) + noise(50) + s.substr(2500, 20) + s;
         }()},
    };
    ScratchFolder folder;
    folder.WriteFile("basic.rom", rom);
    for (const auto& c : cases) {
        folder.WriteFile("in.bin", c.data);
        ASSERT_EQ(Pack(0x2000), 0) << c.what;
        const std::string packed = folder.ReadFile("out.lz");
        ResetMachineForTest();
        std::copy(rom.begin(), rom.end(), MachineMemory);
        std::copy(packed.begin(), packed.end(), MachineMemory + 0x6000);
        MachineMemory[0x4000 + c.data.size()] = 0xA5;
        CpuState.HL = 0x6000;
        CpuState.DE = 0x4000;
        ASSERT_TRUE(Call(unpack)) << c.what;
        EXPECT_EQ(CpuState.DE, 0x4000 + c.data.size()) << c.what;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(MachineMemory) + 0x4000, c.data.size()),
                  c.data)
            << c.what;
        EXPECT_EQ(MachineMemory[0x4000 + c.data.size()], 0xA5) << c.what << ": wrote past its end";
    }
    // Noise does not pack: a room too small for it fails the build.
    folder.WriteFile("in.bin", noise(500));
    EXPECT_EQ(Pack(400), 1);
}

// The floats the ROM makes of whole numbers: the nearest, ties to even, as the host's; and whole
// floats back to the number.
TEST(PackLz, RomConvertsWholeNumbersAsTheHostDoes) {
    const std::string images = LUNABRIK_IMAGES;
    if (access((images + "/basic.rom.sym").c_str(), F_OK) != 0)
        GTEST_SKIP() << "the free ROM is not built";
    const std::string rom = ReadAll(images + "/basic.rom"), dos = ReadAll(images + "/dev_dos.rom");
    const std::string sym = ReadAll(images + "/basic.rom.sym");
    ResetMachineForTest();
    std::copy(rom.begin(), rom.end(), MachineMemory);
    std::copy(dos.begin(), dos.end(), MachineMemory + 0x6000);
    CpuState.HL = 0x60C8; // the library, as start-up unpacks it
    CpuState.DE = 0x4000;
    ASSERT_TRUE(Call(SymbolAddress(sym, "unpack_lz")));
    const uint16_t slong = SymbolAddress(sym, "__slong2fs"), sint = SymbolAddress(sym, "__sint2fs"),
                   uchar = SymbolAddress(sym, "__uchar2fs"),
                   to_int = SymbolAddress(sym, "__fs2sint");
    ASSERT_TRUE(slong && sint && uchar && to_int);
    auto result = [] { return std::bit_cast<float>(uint32_t(CpuState.HL) << 16 | CpuState.DE); };

    const int32_t longs[] = {0,          1,          -1,         255,        256,
                             32767,      -32768,     0x7FFFFF,   0xFFFFFF,   0x1000000,
                             0x1000001,  0x1000003,  -0x1000003, 0x2FFFFFF0, 0x12345678,
                             0x7FFFFFBF, 0x7FFFFFC0, 0x7FFFFFFF, INT32_MIN,  -123456789};
    for (int32_t v : longs) {
        CpuState.HL = uint16_t(uint32_t(v) >> 16);
        CpuState.DE = uint16_t(v);
        ASSERT_TRUE(Call(slong)) << v;
        EXPECT_EQ(result(), float(v)) << v;
    }
    for (int v : {0, 1, -1, 7, 1000, -1000, 32767, -32768, 0x1234, -0x4321}) {
        CpuState.HL = uint16_t(v);
        ASSERT_TRUE(Call(sint)) << v;
        EXPECT_EQ(result(), float(v)) << v;
        CpuState.HL = uint16_t(std::bit_cast<uint32_t>(float(v)) >> 16);
        CpuState.DE = uint16_t(std::bit_cast<uint32_t>(float(v)));
        ASSERT_TRUE(Call(to_int)) << v;
        EXPECT_EQ(int16_t(CpuState.DE), v);
    }
    for (int v : {0, 1, 128, 255}) {
        CpuState.A = uint8_t(v);
        ASSERT_TRUE(Call(uchar)) << v;
        EXPECT_EQ(result(), float(v)) << v;
    }
}

} // namespace
