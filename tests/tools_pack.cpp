// The free BASIC's packer (rom/pack_lz.cpp) against the unpacker in the basic.rom built here, run
// on the processor: what comes out at 0x4000 must be what went in, for streams with the cases the
// real library seldom has (copies longer than 256 bytes, distances far past 256, copies from
// basic.rom below the output).
#include "cpu/bus.h"
#include "cpu/processor.h"
#include "machine/control.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#ifndef LUNABRIK_PACK_LZ
#define LUNABRIK_PACK_LZ "" // built without the free ROM
#endif

namespace {

std::string ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

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
        LoadCode(0xF000, {0xCD, uint8_t(unpack), uint8_t(unpack >> 8), 0x76}); // CALL; HALT
        MachineMemory[0x4000 + c.data.size()] = 0xA5;
        CpuState.SP = 0xF500;
        CpuState.HL = 0x6000;
        CpuState.DE = 0x4000;
        bool halted = false;
        for (int i = 0; i < 2000000 && !halted; i++) {
            ExecuteInstruction();
            halted = ReadControlFlags() & HALTED;
        }
        ASSERT_TRUE(halted) << c.what;
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

} // namespace
