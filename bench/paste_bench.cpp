// Paste throughput: how fast the key pacer types a long text into the free BASIC, driven like the
// desktop program (the system's threads, the clock thread stepping the pacer), at full speed and
// at a real ABC80's pace. The listing is checked afterwards: a fast paste that loses keys fails.
//
// Usage: lunabrik_paste_bench [--lines N] (program lines for the full-speed run, default 400)
// Exit status: 0 when the full-speed rate is at least 1,000 characters a second and nothing was
// lost, 2 when the rate is missed, 1 when a run goes wrong.
#include "display/display.h"
#include "host/settings.h"
#include "system/system.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double RateGoal = 1000;

bool WaitForScreen(const std::string& text, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (ScreenAsText().find(text) == std::string::npos) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Types text and returns characters a second, or -1 when the pacer did not finish in time.
double Paste(const std::string& text) {
    std::string codes;
    TextToCodes(text.data(), text.size(), codes);
    const auto start = Clock::now();
    PacerType(codes);
    while (PacerBusy()) {
        if (Clock::now() - start > std::chrono::minutes(10)) return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return codes.size() / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    int lines = 400;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--lines") == 0) lines = std::atoi(argv[i + 1]);
    char folder[] = "/tmp/lunabrik-paste-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    for (const char* name : {"basic.rom", "dev_dos.rom", "font.bin"})
        std::filesystem::copy_file(std::string(LUNABRIK_RUN_DIR "/") + name,
                                   std::string(folder) + "/" + name);
    if (chdir(folder) != 0) return 1;
    BootReport report;
    if (!SystemBoot(BootOptions{}, report)) {
        std::fprintf(stderr, "cannot boot: %s missing\n", report.missing_rom);
        return 1;
    }
    SystemStart(nullptr, nullptr);
    int status = 0;
    if (!WaitForScreen("READY", 30)) {
        std::fprintf(stderr, "the BASIC did not start\n");
        status = 1;
    }

    std::string program;
    for (int n = 1; n <= lines; ++n)
        program += std::to_string(n * 10) + " REM LINE " + std::to_string(n) + " ABCDEFGH\n";
    SetWaitstates(0);
    const double fast = status ? -1 : Paste(program);
    // The last lines listed back: the paste lost nothing at the end.
    const std::string last = std::to_string(lines * 10) + " REM LINE " + std::to_string(lines);
    Paste("LIST " + std::to_string(lines * 10 - 20) + "-\n");
    const bool whole = WaitForScreen(last + " ABCDEFGH", 10);

    SetWaitstates(-1);
    Paste("NEW\n");
    WaitForScreen("READY", 10);
    const int real_lines = 20;
    std::string real_program;
    for (int n = 1; n <= real_lines; ++n)
        real_program += std::to_string(n * 10) + " REM LINE " + std::to_string(n) + " ABCDEFGH\n";
    const double real = status ? -1 : Paste(real_program);
    Paste("LIST " + std::to_string(real_lines * 10 - 20) + "-\n");
    const bool real_whole = WaitForScreen(std::to_string(real_lines * 10) + " REM LINE " +
                                              std::to_string(real_lines) + " ABCDEFGH",
                                          10);
    SystemStop();
    std::filesystem::remove_all(folder);

    std::printf("paste at full speed: %.0f characters/s (%zu characters), listed back %s\n", fast,
                program.size(), whole ? "whole" : "NOT WHOLE");
    std::printf(
        "paste at a real ABC80's pace: %.0f characters/s (%zu characters), listed back %s\n", real,
        real_program.size(), real_whole ? "whole" : "NOT WHOLE");
    if (fast < 0 || real < 0 || !whole || !real_whole) return 1;
    const bool met = fast >= RateGoal;
    std::printf("paste: %.0f characters/s at full speed; goal >= %.0f: %s\n", fast, RateGoal,
                met ? "met" : "MISSED");
    return status ? status : met ? 0 : 2;
}
