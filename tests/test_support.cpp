#include "test_support.h"

#include "cpu/cpu_state.h"
#include "machine/control.h"
#include "machine/memory.h"
#include "machine/ports.h"
#include "host/settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
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
    return ReadAll(path_ + "/" + name);
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &before_) != 0) ADD_FAILURE() << "no file size limit to read";
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before_;
    small.rlim_cur = rlim_t(bytes);
    if (setrlimit(RLIMIT_FSIZE, &small) != 0) ADD_FAILURE() << "the file size limit stays";
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, handler_);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Outcome RunInFolder(const std::string& program, const std::vector<std::string>& args) {
    const std::string here = std::filesystem::current_path().string();
    std::string command =
        "XDG_DATA_HOME=" + Quote(here + "/xdg") + " timeout 120 " + Quote(program);
    for (const auto& a : args)
        command += " " + Quote(a);
    command += " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll("out.txt"), ReadAll("err.txt")};
}
