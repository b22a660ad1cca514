// The machine interface: what a front end (the desktop program, the headless runner, the browser
// page, the tests) does with the emulated ABC80, one entry point per action: boot, the threads and
// the 50 Hz tick, reset, pause, quit, keys (through the key pacer, system/pacer.h), the frame and
// the counters.
//
// Two ways to run it:
// - Threaded (the window, the runner's --realtime): SystemStart starts the ProcessorThread, the
//   RenderThread and the clock thread (TICK every 20 ms; it and the ProcessorThread step the key
//   pacer); SystemStop ends and joins them.
// - Deterministic (the runner, the page, tests): the front end's own thread calls SystemRunTick,
//   which executes one tick period's instructions, stepping the pacer between them, then the tick.
#pragma once

#include "display/display.h"
#include "system/pacer.h"

#include <cstdint>
#include <string>
#include <vector>

struct BootOptions {
    // Create the files folder when it is the default "Files/" and does not exist yet (one level).
    // The desktop program asks for this; a folder the user configured is never created.
    bool create_default_files_folder = false;
};

struct BootReport {
    const char* missing_rom = nullptr; // the ROM image that could not be loaded, or null
    bool font_loaded = false; // false: font.bin missing or unreadable, the display is black
    bool files_folder_created = false; // the default files folder was created now
    int files_folder_error = 0;        // errno of a failed attempt to create it, else 0
};

// In order: read Lunabrik.cfg; fill memory and load basic.rom and dev_dos.rom (a missing image
// stops here: false, report.missing_rom names it); build the character generator from font.bin
// (its failure does not stop the start); prepare the files folder when asked; empty the key pacer;
// reset the processor.
// The front ends start through SystemStartUp (system/startup.h), which calls this and says what
// went wrong.
bool SystemBoot(const BootOptions& options, BootReport& report);

// --- Threaded run ---
// Called on the RenderThread when a frame that differs from the last one is ready; the front end
// then takes it with SystemTakeFrame (from any thread). Must not block.
using FrameReadyHook = void (*)(void* context);
// Starts the ProcessorThread, the RenderThread and the clock thread (ticks only when the character
// generator was built: without font.bin nothing is drawn and no tick is raised). Once only.
void SystemStart(FrameReadyHook hook, void* context);
// QUIT, then joins every thread; prompt whatever the processor is doing. Safe to call twice.
void SystemStop();
bool SystemRunning();
// Report a processor that stalls on an instruction it cannot execute (SystemStalled). The
// processor counts stalls whatever this says, at no cost to the instructions that execute.
void SystemWatchStalls(bool on);
// Blocks until the clock has ticked since `seen` (a value SystemTicks returned) or the system
// stops; returns the new count.
uint64_t SystemWaitForTick(uint64_t seen);
uint64_t SystemTicks();
// For seeing that nothing happens: the tick periods the clock let pass without a TICK or a frame
// (the machine paused, no font, or a replay giving its own ticks), which only grows; and whether
// the RenderThread sleeps with no frame asked of it (false while the machine does not run).
uint64_t SystemTicksWithheld();
bool SystemRenderIdle();

// --- Deterministic run, on the caller's thread ---
// Runs up to `instructions` instructions (fewer when the processor halts, spends a real-speed
// budget or quits) in the processor's own loop, the pacer looking every 64 of them, then the
// tick: TICK and the frame of the screen as it stands (drawn only when screen memory or the blink
// phase changed since the last one: an unchanged screen has nothing new to show).
// A pause (or a debugger stop) ends the period early without the tick; the next call first runs
// what was left of that period, then ticks. False once QUIT was seen.
bool SystemRunTick(long instructions);

// --- Control, from any thread ---
void SystemReset();
// Switching the machine off and on: the threads stop, memory is filled and basic.rom and
// dev_dos.rom are loaded afresh (a program that wrote into the ROM area leaves no trace), the
// keys on their way are dropped, the processor resets, and the threads start again when they ran.
// Pause ends. False when an image could not be loaded (missing names it); the machine then runs
// on what memory holds, as the hardware would without its ROM.
bool SystemPowerCycle(const char** missing = nullptr);
void SystemQuit();
void SystemPause(bool paused);
bool SystemPaused();

// --- Speed for this run only: neither ever reaches Lunabrik.cfg nor the Config dialog ---
// The paces a waitstates value can name besides N idle iterations.
constexpr int32_t SystemRealPace = -1; // a real ABC80: 3 MHz, 60,000 T-states a tick
constexpr int32_t SystemFullPace = 0;  // as fast as the host allows
// Turbo: as fast as the host allows while on, whatever pace is set.
void SystemSetTurbo(bool on);
bool SystemTurbo();
// on: a pace in place of the settings' waitstates (the same values: -1 a real ABC80, 0 as fast
// as possible, N idle iterations); off: the settings' again. Turbo goes over it.
void SystemSetRunPace(bool on, int32_t waitstates = 0);
// Puts the pace in force again: as fast as possible while a recorded session is replayed (its
// ticks decide when the machine runs), else turbo, the run's pace or the settings'.
void SystemApplyPace();
// The speed of a real pace (waitstates -1) in percent of a real ABC80: the processor runs that
// share of 60,000 T-states per tick (100: a real ABC80's 3 MHz). For this run only.
void SystemSetPacePercent(int percent);
// The pace the machine follows, turbo aside: the run's pace when one is set, else the settings'
// waitstates.
int32_t SystemChosenPace();
int SystemPacePercent();

// --- What the machine shows ---
// Copies the latest frame (FrameBitmap lines); true when it changed since the last call.
bool SystemTakeFrame(uint8_t (*frame)[FrameLineBytes]);

// The picture of the screen as it is now: rendered on the caller's thread when the machine's
// threads are not running, else the last frame drawn (at most one tick old; it stays new for
// SystemTakeFrame).
void SystemPicture(uint8_t (*frame)[FrameLineBytes]);
// Draws the screen afresh from memory and hands it on as a tick's frame would be (from the
// RenderThread when the threads run, else at once on the caller's thread): for a machine that
// stands still between ticks, after a saved machine was restored or the debugger stopped it.
void SystemRedraw();

// The screen as 24 lines of UTF-8 text (Swedish letters as themselves, mosaic as sextants).
std::string SystemScreenText();
// The cells of rows top to bottom and columns left to right (0-based, inclusive) the same way,
// one line per row.
std::string SystemScreenTextRect(int top, int left, int bottom, int right);

struct SystemCounts {
    uint64_t instructions; // executed since boot (see ReadProcessorCounts)
    uint64_t tstates;
    uint64_t ticks; // TICKs the processor took
};
SystemCounts SystemReadCounts();

// Idle iterations of the processor's pacing wait per second on this computer (for what a
// waitstates value means here).
double SystemPacingIterationsPerSecond();

// A byte of the address space, read from any thread.
constexpr uint32_t SystemMemoryBytes = 65536;
uint8_t SystemPeek(uint16_t address);
// Seeds the LD A,R generator with n at once and at every reset, so a run repeats (before start).
void SystemSeedRefresh(uint32_t n);

// True when the processor has stalled (SystemWatchStalls); pc is where.
bool SystemStalled(uint16_t& pc);

// Host file writes that failed: how many so far, and the latest as "Cannot write PATH: REASON".
uint32_t SystemHostFileWarnings(std::string& latest);
