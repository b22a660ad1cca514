#include "system/system.h"

#include "cpu/processor.h"
#include "display/render_event.h"
#include "host/data_folder.h"
#include "host/settings.h"
#include "machine/control.h"
#include "machine/host_files.h"
#include "machine/memory.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

static_assert(SystemRealPace == RealSpeedWaitstates);
static_assert(SystemMemoryBytes == MemorySize);

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TickPeriod = std::chrono::milliseconds(20);
// How often the clock thread steps the pacer while keys are on their way.
constexpr auto PacerPeriod = std::chrono::microseconds(100);
// The clock thread does not catch up on ticks it missed by more than this (a stopped process).
constexpr auto MaxTickLag = std::chrono::milliseconds(200);
// How many instructions a deterministic tick runs between steps of the pacer.
constexpr long PacerInstructions = 64;

bool FontLoaded = false;

std::thread ProcessorThread, RenderThread, ClockThread;
// Made anew at every start: a closed event stays closed.
std::unique_ptr<RenderEvent> Render;
FrameReadyHook FrameHook = nullptr;
void* FrameContext = nullptr;

// The clock thread's state; ClockMutex also guards TickCount for SystemWaitForTick.
std::mutex ClockMutex;
std::condition_variable ClockWake;
bool ClockStop = false;
uint64_t TickCount = 0;
std::atomic<bool> Paused{false};

// The speed for this run: turbo over the run's pace over the settings' waitstates. Changed by the
// front end's thread only.
bool Turbo = false;
int32_t RunPace = NoPaceOverride;

void ApplyPace() { SetPaceOverride(Turbo ? 0 : RunPace); }

// The frame handed to the front end, and whether it changed since it was last taken.
std::mutex FrameMutex;
uint8_t Frame[FrameLines][FrameLineBytes] = {};
bool FrameChanged = false;

// Whether stalls are reported (the processor counts them whatever this says).
bool WatchStalls = false;

// Keeps the frame for the front end when it differs from the one it has.
void PublishFrame(const uint8_t (*bitmap)[FrameLineBytes]) {
    {
        std::lock_guard lock(FrameMutex);
        if (std::memcmp(Frame, bitmap, sizeof Frame) == 0) return;
        std::memcpy(Frame, bitmap, sizeof Frame);
        FrameChanged = true;
    }
    if (FrameHook) FrameHook(FrameContext);
}

void PresentFrame(const uint8_t (*bitmap)[FrameLineBytes], void*) { PublishFrame(bitmap); }

// The processor's thread: its own loop (a stall is counted where it happens, at no cost here).
void ProcessorThreadMain() { ProcessorThreadBody(); }

// The clock thread: the 50 Hz tick (TICK and a frame), and the pacer's steps while keys are on
// their way. A paused machine gets no ticks: its time stands still.
void ClockThreadMain() {
    auto next = Clock::now() + TickPeriod;
    std::unique_lock lock(ClockMutex);
    while (!ClockStop) {
        const bool pacing = PacerBusy();
        const auto wake = pacing ? std::min(next, Clock::now() + PacerPeriod) : next;
        ClockWake.wait_until(lock, wake, [] { return ClockStop; });
        if (ClockStop) break;
        lock.unlock();
        PacerStep();
        const auto now = Clock::now();
        bool ticked = false;
        if (now >= next) {
            next += TickPeriod;
            if (now - next > MaxTickLag) next = now + TickPeriod;
            if (FontLoaded && !Paused.load(std::memory_order_relaxed)) {
                SetControlFlags(TICK);
                Render->Signal();
                ticked = true;
            }
        }
        lock.lock();
        if (ticked) {
            ++TickCount;
            ClockWake.notify_all();
        }
    }
}

// The default folder is created one level deep, only when nothing by that name exists.
void PrepareFilesFolder(BootReport& report) {
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    if (std::strcmp(folder, DefaultFilesFolder) != 0) return;
    const int made = MakeDefaultFilesFolder();
    report.files_folder_created = made == 0;
    if (made > 0) report.files_folder_error = made;
}

} // namespace

// What a boot and switching the machine off and on share: the control flags cleared, memory filled
// and the images loaded afresh, no key held or queued, the processor reset.
bool LoadAndReset(const char** missing) {
    ControlFlags.store(ReadControlFlags() & DEBUG,
                       std::memory_order_release); // an attached debugger stays
    const bool loaded = LoadAddressSpace(missing);
    PacerReset();
    ProcessorReset();
    return loaded;
}

bool SystemBoot(const BootOptions& options, BootReport& report) {
    report = BootReport{};
    ReadSettings();
    const char* missing = nullptr;
    if (!LoadAndReset(&missing)) {
        report.missing_rom = missing ? missing : "basic.rom";
        return false;
    }
    report.font_loaded = BuildCharacterGenerator();
    FontLoaded = report.font_loaded;
    if (options.create_default_files_folder) PrepareFilesFolder(report);
    return true;
}

void SystemStart(FrameReadyHook hook, void* context) {
    if (ProcessorThread.joinable()) return;
    FrameHook = hook;
    FrameContext = context;
    {
        std::lock_guard lock(ClockMutex);
        ClockStop = false;
    }
    ClearControlFlags(QUIT); // a machine stopped before runs again
    Render = std::make_unique<RenderEvent>();
    RenderThread = std::thread(RenderThreadBody, std::ref(*Render), PresentFrame, nullptr);
    SetPeriodEndHook(PacerPeriodEnd);
    SetPeriodicHook(PacerProcessorLook);
    ProcessorThread = std::thread(ProcessorThreadMain);
    ClockThread = std::thread(ClockThreadMain);
}

void SystemStop() {
    if (ProcessorThread.joinable()) {
        SetControlFlags(QUIT);
        ProcessorThread.join();
    }
    if (ClockThread.joinable()) {
        {
            std::lock_guard lock(ClockMutex);
            ClockStop = true;
        }
        ClockWake.notify_all();
        ClockThread.join();
    }
    if (RenderThread.joinable()) {
        Render->Close();
        RenderThread.join();
    }
}

bool SystemRunning() { return ProcessorThread.joinable(); }

void SystemWatchStalls(bool on) { WatchStalls = on; }

uint64_t SystemWaitForTick(uint64_t seen) {
    std::unique_lock lock(ClockMutex);
    ClockWake.wait(lock, [seen] { return TickCount != seen || ClockStop; });
    return TickCount;
}

uint64_t SystemTicks() {
    std::lock_guard lock(ClockMutex);
    return TickCount;
}

// The instructions of a tick that a pause (a debugger stop) cut short: the next tick runs them
// first, so a stop and a resume leave the run exactly as it would have been.
long CarriedInstructions = 0;

bool SystemRunTick(long instructions) {
    const long budget = CarriedInstructions ? CarriedInstructions : instructions;
    CarriedInstructions = 0;
    const uint64_t start = ReadProcessorCounts().instructions;
    // The pacer looks every PacerInstructions steps while keys are on their way; only a front end
    // gives it keys, between ticks, so once it has none the tick runs on unbroken. A HALT waits
    // for the tick, so nothing runs for the rest of this period, nor while paused.
    const RunResult run = ProcessorRun(budget, PacerInstructions, [] {
        PacerProcessorLook();
        return PacerArmed();
    });
    switch (run.end) {
    case RunEnd::Quit: return false;
    case RunEnd::Paused:
        // By what ran: the step at which the debugger stopped executed nothing.
        CarriedInstructions = budget - long(ReadProcessorCounts().instructions - start);
        break;
    case RunEnd::PeriodSpent: PacerPeriodEnd(); break; // real speed: this tick's budget is spent
    case RunEnd::Budget:
    case RunEnd::Halted: break;
    }
    PacerStep();
    if (ReadControlFlags() & QUIT) return false;
    if (Paused.load(std::memory_order_relaxed) || CarriedInstructions) return true;
    SetControlFlags(TICK);
    RenderFrame();
    PublishFrame(FrameBitmap);
    ++frame_count;
    std::lock_guard lock(ClockMutex);
    ++TickCount;
    return true;
}

void SystemReset() {
    PacerMachineReset();
    SetControlFlags(RESET);
}

bool SystemPowerCycle(const char** missing) {
    const bool running = SystemRunning();
    if (running) SystemStop();
    SystemPause(false);
    const bool loaded = LoadAndReset(missing);
    if (running) SystemStart(FrameHook, FrameContext);
    return loaded;
}

void SystemQuit() { SetControlFlags(QUIT); }

void SystemPause(bool paused) {
    Paused.store(paused, std::memory_order_relaxed);
    if (paused)
        SetControlFlags(PAUSE);
    else
        ClearControlFlags(PAUSE);
}

bool SystemPaused() { return Paused.load(std::memory_order_relaxed); }

void SystemSetTurbo(bool on) {
    Turbo = on;
    ApplyPace();
}

bool SystemTurbo() { return Turbo; }

void SystemSetRunPace(bool on, int32_t waitstates) {
    RunPace = on ? waitstates : NoPaceOverride;
    ApplyPace();
}

bool SystemTakeFrame(uint8_t (*frame)[FrameLineBytes]) {
    std::lock_guard lock(FrameMutex);
    std::memcpy(frame, Frame, sizeof Frame);
    const bool changed = FrameChanged;
    FrameChanged = false;
    return changed;
}

void SystemPicture(uint8_t (*frame)[FrameLineBytes]) {
    if (SystemRunning()) {
        std::lock_guard lock(FrameMutex);
        std::memcpy(frame, Frame, sizeof Frame);
        return;
    }
    RenderFrame();
    std::memcpy(frame, FrameBitmap, sizeof(uint8_t) * FrameLines * FrameLineBytes);
}

void SystemRedraw() {
    if (SystemRunning()) {
        if (Render) Render->Signal();
        return;
    }
    RenderFrame();
    PublishFrame(FrameBitmap);
}

std::string SystemScreenText() { return ScreenAsText(); }

std::string SystemScreenTextRect(int top, int left, int bottom, int right) {
    return ScreenTextRect(top, left, bottom, right);
}

SystemCounts SystemReadCounts() {
    const ProcessorCounts c = ReadProcessorCounts();
    return {c.instructions, c.tstates, c.ticks};
}

double SystemPacingIterationsPerSecond() { return PacingIterationsPerSecond(); }

uint8_t SystemPeek(uint16_t address) { return ReadMemoryShared(address); }

void SystemSeedRefresh(uint32_t n) { SetRefreshSeed(n); }

bool SystemStalled(uint16_t& pc) { return WatchStalls && ProcessorStalled(pc); }

uint32_t SystemHostFileWarnings(std::string& latest) {
    const uint32_t count = HostFileWarningCount();
    HostFileWarning w;
    if (count && ReadLatestHostFileWarning(w))
        latest = std::string("Cannot write ") + w.path + ": " + w.reason;
    return count;
}
