// Helpers shared by the test programs: a clean machine, code placed in memory, a scratch folder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

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
