#include "test_support.h"

#include "cpu/cpu_state.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

void ResetMachineForTest() {
    CpuState = CpuRegisters{};
    std::memset(MachineMemory, 0xFF, MemorySize);
    std::memset(MachineMemory + ScreenMemoryAddress, 0x20, ScreenMemorySize);
    std::memset(MachineMemory + 0x5800, 0x20, 0x800);
    std::memset(InPorts, 0, sizeof InPorts);
    std::memset(OutPorts, 0, sizeof OutPorts);
    ControlFlags.store(0);
    InterruptBusByte = 0;
    SetPaceOverride(NoPaceOverride);
    SetPaceBudget(RealAbc80TstatesPerTick);
    SetWaitstates(0);
}

void LoadCode(uint16_t address, std::initializer_list<uint8_t> bytes) {
    CpuState.PC = address;
    for (uint8_t b : bytes)
        MachineMemory[address++] = b;
}

ScratchFolder::ScratchFolder() {
    char tmpl[] = "/tmp/lunabrik-test-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

void ScratchFolder::WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ScratchFolder::ReadFile(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
