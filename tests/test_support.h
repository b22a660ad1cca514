// Helpers shared by the test programs: a clean machine, code placed in memory, a scratch folder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <sys/resource.h>
#include <vector>

// Zero registers, memory filled as after loading without ROM images (0xFF, screen 0x20), ports
// and ControlFlags cleared, waitstates 0.
void ResetMachineForTest();

// Writes bytes at address (wrapping at 0xFFFF) and sets PC there.
void LoadCode(uint16_t address, std::initializer_list<uint8_t> bytes);

// A fresh empty folder under the system's temporary folder, made the working directory for the
// object's lifetime; removed with its contents afterwards.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file of the given bytes (relative to the folder).
    void WriteFile(const std::string& name, const std::string& bytes) const;
    std::string ReadFile(const std::string& name) const;

  private:
    std::string path_;
    std::string previous_;
};

// While it lives, writes past `bytes` into any file fail with EFBIG, as on a full disk (SIGXFSZ is
// ignored meanwhile); afterwards the limit and the signal's handler are as they were.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit before_;
    void (*handler_)(int);
};

// The bytes of a file; empty when it cannot be read.
std::string ReadAll(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);

// s in single quotes for the shell, so that it stays one word whatever it holds.
std::string Quote(const std::string& s);

// What a program run to its end gave: its exit code (-1 when a signal ended it) and what it wrote
// to standard output and standard error.
struct Outcome {
    int exit_code;
    std::string out, err;
};
// Runs program with args in the working directory (a ScratchFolder), with its per-user data
// folder inside it (xdg/) and ended after two minutes should it hang; what it writes is kept in
// out.txt and err.txt there.
Outcome RunInFolder(const std::string& program, const std::vector<std::string>& args);
