#include "system/system.h"

#include "system/hold.h"
#include "system/recording.h"

#include "cpu/processor.h"
#include "display/render_event.h"
#include "host/data_folder.h"
#include "host/settings.h"
#include "machine/control.h"
#include "machine/host_files.h"
#include "machine/memory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
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
// Tick periods the clock let pass without a TICK (paused, no font, or a replay's own ticks).
std::atomic<uint64_t> TicksWithheld{0};
std::atomic<bool> Paused{false};

// The speed for this run: turbo over the run's pace over the settings' waitstates. Changed by the
// front end's thread only.
std::atomic<bool> Turbo{false};
std::atomic<int32_t> RunPace{NoPaceOverride};

// A recording replayed on the machine's threads: the processor's thread runs the replay, and the
// clock raises no TICK of its own (the recorded ones come from the replay).
std::atomic<bool> PlayOn{false};
std::atomic<bool> PlayStopAsked{false};
std::mutex PlayMutex;
std::condition_variable PlayWake;

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

// What the frame last published from this thread was drawn from: the screen memory, the blink
// phase and the font. A frame is a function of these, so a tick that finds them unchanged would
// draw the very frame the front end has and publishes nothing; the blink phase counts only while
// some byte blinks. Forgotten whenever another thread may have published since (the render
// thread of a started machine).
struct {
    uint8_t screen[ScreenMemorySize];
    uint32_t glyphs; // glyph_generation
    bool blink_phase;
    bool blinking; // some byte of screen has bit 7 set
    bool valid = false;
} Shown;

// Draws and publishes the frame of the screen as it is now, unless it is the one last published.
void PublishScreen() {
    const uint8_t* screen = MachineMemory + ScreenMemoryAddress;
    const bool phase = (frame_count & BlinkFrameBit) != 0;
    if (Shown.valid && Shown.glyphs == glyph_generation &&
        (phase == Shown.blink_phase || !Shown.blinking) &&
        std::memcmp(Shown.screen, screen, ScreenMemorySize) == 0)
        return;
    RenderFrame();
    PublishFrame(FrameBitmap);
    std::memcpy(Shown.screen, screen, ScreenMemorySize);
    Shown.glyphs = glyph_generation;
    Shown.blink_phase = phase;
    Shown.blinking = std::any_of(Shown.screen, Shown.screen + ScreenMemorySize,
                                 [](uint8_t b) { return (b & 0x80) != 0; });
    Shown.valid = true;
}

// How long after the machine took a key its echo is drawn: the software has written it by then
// (a few thousand T-states later, at any speed).
constexpr auto EchoDelay = std::chrono::milliseconds(1);
// Set under ClockMutex by the pacer's hooks, which wake the clock thread: a key has come (step the
// pacer now, not at the next tick), the machine has taken one (draw its echo soon).
bool ClockNudged = false;
bool EchoWanted = false;

void Nudge(bool echo) {
    {
        std::lock_guard lock(ClockMutex);
        ClockNudged = true;
        EchoWanted = EchoWanted || echo;
    }
    ClockWake.notify_all();
}
void KeyCame() { Nudge(false); }
void KeyTaken() { Nudge(true); }

// The processor's thread: its own loop (a stall is counted where it happens, at no cost here).
void ProcessorThreadMain() { ProcessorThreadBody(); }

// The clock thread: the 50 Hz tick (TICK and a frame), the pacer's steps while keys are on their
// way (and at once when one comes), and a frame between ticks soon after the machine took a key,
// so its echo shows at once. A paused machine gets no ticks: its time stands still. ClockMutex is
// never held while the pacer's lock is taken (its hooks take ClockMutex under their own).
void ClockThreadMain() {
    auto next = Clock::now() + TickPeriod;
    Clock::time_point echo{};
    std::unique_lock lock(ClockMutex);
    while (!ClockStop) {
        lock.unlock();
        const bool pacing = PacerBusy();
        lock.lock();
        auto wake = pacing ? std::min(next, Clock::now() + PacerPeriod) : next;
        if (echo != Clock::time_point{}) wake = std::min(wake, echo);
        ClockWake.wait_until(lock, wake, [] { return ClockStop || ClockNudged; });
        if (ClockStop) break;
        ClockNudged = false;
        const bool echo_wanted = std::exchange(EchoWanted, false);
        lock.unlock();
        PacerStep();
        const auto now = Clock::now();
        if (echo_wanted && echo == Clock::time_point{}) echo = now + EchoDelay;
        if (echo != Clock::time_point{} && now >= echo) {
            echo = {};
            if (FontLoaded && !Paused.load(std::memory_order_relaxed)) Render->Redraw();
        }
        bool ticked = false;
        if (now >= next) {
            next += TickPeriod;
            if (now - next > MaxTickLag) next = now + TickPeriod;
            if (FontLoaded && !Paused.load(std::memory_order_relaxed) &&
                !PlayOn.load(std::memory_order_acquire)) {
                SetControlFlags(TICK);
                Render->Signal();
                ticked = true;
            } else {
                TicksWithheld.fetch_add(1, std::memory_order_relaxed);
            }
        }
        lock.lock();
        if (ticked) {
            ++TickCount;
            ClockWake.notify_all();
        }
    }
}

// The pace the user set for this run, turbo aside: the run's or the settings'.
int32_t PaceInForce() {
    const int32_t run = RunPace.load(std::memory_order_relaxed);
    return run == NoPaceOverride ? Waitstates() : run;
}

// A replay ends on the processor's thread: the machine is given back, and a word for the front end.
void FinishPlay() {
    RecordPostNotice(ReplayFinish());
    PlayOn.store(false, std::memory_order_release);
}

// The processor's thread while a recording is replayed: one recorded tick every tick period (at
// once with turbo or as fast as possible), each run to its T-state and its frame drawn by the
// RenderThread meanwhile. Paused (a hold, the debugger, the user) it shows the machine standing
// at its boundary and waits. At the end, or asked to stop, it becomes the processor's own loop.
void PlayThreadMain() {
    auto next = Clock::now();
    for (;;) {
        if (PlayStopAsked.load(std::memory_order_acquire)) break;
        const uint32_t flags = ReadControlFlags();
        if (flags & QUIT) return; // SystemStop gives the machine back after the join
        if (flags & PAUSE) {
            ProcessorStep(); // executes nothing: the machine is the holder's from now on
            std::unique_lock lock(PlayMutex);
            PlayWake.wait_for(lock, TickPeriod,
                              [] { return PlayStopAsked.load(std::memory_order_acquire); });
            next = Clock::now();
            continue;
        }
        if (!Turbo.load(std::memory_order_relaxed) && PaceInForce() != 0) {
            std::unique_lock lock(PlayMutex);
            if (PlayWake.wait_until(lock, next,
                                    [] { return PlayStopAsked.load(std::memory_order_acquire); }))
                break;
        }
        const ReplayTick t = ReplayRunTick();
        if (t == ReplayTick::Quit) return;
        if (t == ReplayTick::Paused) continue;
        if (t == ReplayTick::Ended) break;
        Render->Signal();
        {
            std::lock_guard lock(ClockMutex);
            ++TickCount;
        }
        ClockWake.notify_all();
        next += TickPeriod;
        const auto now = Clock::now();
        if (now - next > MaxTickLag) next = now;
    }
    FinishPlay();
    ProcessorThreadBody();
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
    Shown.valid = false;     // the render thread publishes from now on
    Render = std::make_unique<RenderEvent>();
    RenderThread = std::thread(RenderThreadBody, std::ref(*Render), PresentFrame, nullptr);
    SetPeriodEndHook(PacerPeriodEnd);
    SetPeriodicHook(PacerProcessorLook);
    SetPacerHooks(KeyCame, KeyTaken);
    ProcessorThread = std::thread(ProcessorThreadMain);
    ClockThread = std::thread(ClockThreadMain);
}

void SystemStop() {
    if (Recording()) RecordingInterrupt(); // written where the machine stops
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
    if (PlayOn.load(std::memory_order_acquire)) FinishPlay(); // stopped in the middle
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

uint64_t SystemTicksWithheld() { return TicksWithheld.load(std::memory_order_relaxed); }

bool SystemRenderIdle() { return SystemRunning() && Render->Idle(); }

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
    case RunEnd::Halted:
    case RunEnd::Reached: break;
    }
    PacerStep();
    if (ReadControlFlags() & QUIT) return false;
    if (Paused.load(std::memory_order_relaxed) || CarriedInstructions) return true;
    SetControlFlags(TICK);
    PublishScreen();
    ++frame_count;
    std::lock_guard lock(ClockMutex);
    ++TickCount;
    return true;
}

void SystemReset() {
    if (Replaying()) return; // a replay's resets are the recorded ones
    PacerMachineReset();
    // Recorded, the reset goes in while the machine stands at a boundary, so the recording notes
    // it where the machine took it (the first thing its next poll does).
    if (Recording()) {
        MachineHold hold;
        SetControlFlags(RESET);
        return;
    }
    SetControlFlags(RESET);
}

bool SystemPowerCycle(const char** missing) {
    RecordingInterrupt();
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

void SystemApplyPace() { SetPaceOverride(Replaying() || Turbo.load() ? 0 : RunPace.load()); }

void SystemSetTurbo(bool on) {
    Turbo = on;
    SystemApplyPace();
}

bool SystemTurbo() { return Turbo; }

void SystemSetRunPace(bool on, int32_t waitstates) {
    RunPace = on ? waitstates : NoPaceOverride;
    SystemApplyPace();
}

void SystemSetPacePercent(int percent) {
    percent = std::clamp(percent, 1, 100000);
    SetPaceBudget(uint32_t(uint64_t(RealAbc80TstatesPerTick) * uint32_t(percent) / 100));
}

int32_t SystemChosenPace() {
    const int32_t run = RunPace.load(std::memory_order_relaxed);
    return run == NoPaceOverride ? Waitstates() : run;
}

int SystemPacePercent() { return int(uint64_t(PaceBudget()) * 100 / RealAbc80TstatesPerTick); }

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
    PublishScreen();
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

ReplayTick SystemReplayTick() {
    const ReplayTick t = ReplayRunTick();
    if (t != ReplayTick::Ticked) return t;
    RenderFrame();
    PublishFrame(FrameBitmap);
    ++frame_count;
    std::lock_guard lock(ClockMutex);
    ++TickCount;
    return t;
}

ReplayResult SystemPlay(const std::string& path, bool force_other_roms) {
    const bool running = SystemRunning();
    if (PlayOn.load() || !running) {
        ReplayResult r;
        r.message =
            running ? "A recorded session is replayed already." : "The machine is not running.";
        return r;
    }
    // The processor's thread ends at a boundary; the clock (raising no TICK meanwhile) and the
    // RenderThread go on.
    PlayOn.store(true, std::memory_order_release);
    SetControlFlags(QUIT);
    ProcessorThread.join();
    ClearControlFlags(QUIT);
    ReplayResult r = ReplayBegin(path, force_other_roms);
    PlayStopAsked.store(false);
    PlayOn.store(r.ok, std::memory_order_release);
    ProcessorThread = std::thread(r.ok ? PlayThreadMain : ProcessorThreadMain);
    return r;
}

void SystemStopPlaying() {
    if (!PlayOn.load(std::memory_order_acquire)) return;
    {
        std::lock_guard lock(PlayMutex);
        PlayStopAsked.store(true, std::memory_order_release);
    }
    PlayWake.notify_all();
    // The replay thread looks between ticks: within a tick period of the machine's time.
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (PlayOn.load(std::memory_order_acquire) && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool SystemPlaying() { return PlayOn.load(std::memory_order_acquire); }
