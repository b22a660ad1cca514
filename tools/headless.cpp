// lunabrik-headless: runs the emulated ABC80 without a window, for scripts and tests.
//
// It boots the machine as the desktop program does (Lunabrik.cfg, basic.rom, dev_dos.rom and
// font.bin from its folder) and executes its options in order: typing, waiting for screen text,
// running ticks, dumping the screen as text, PBM or PNG, replaying a recorded session.
//
// Time: by default one tick (TICK raised, the NMI every 20 ms of the real machine, and one frame
// rendered) follows every N executed instructions, all on this thread, so a run is repeatable.
// With --realtime the machine runs on its own threads and ticks every 20 ms of real time.
//
// Exit codes: 0 done, 1 a --wait-for timed out, 2 bad arguments, a missing file or an output that
// cannot be written, 3 the processor stalled and --fail-on-stall was given, 4 a host file could not
// be written or created, 5 the --time-limit ran out, 6 a state could not be saved or loaded.
// With --control or --script the commands of the control protocol follow the actions
// (tools/control.h).
#include "system/debugger.h"
#include "system/files.h"
#include "system/startup.h"
#include "system/recording.h"
#include "system/state.h"
#include "system/system.h"
#include "tools/control.h"
#include "tools/headless_options.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <functional>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Options Opts;
long TickCount = 0;      // ticks run so far, on the main thread

// Host file failures the guest cannot be told about (a full disk, a refused create): each is said
// on standard error as it is seen, and the run ends with ExitHostFileWarning.
uint32_t WarningsSeen = 0;

void ReportHostFileWarnings() {
    std::string latest;
    const uint32_t count = SystemHostFileWarnings(latest);
    if (count == WarningsSeen) return;
    if (count > WarningsSeen + 1)
        std::fprintf(stderr, "lunabrik-headless: %u earlier host file warnings\n",
                     count - WarningsSeen - 1);
    std::fprintf(stderr, "lunabrik-headless: %s\n", latest.c_str());
    WarningsSeen = count;
}

// --time-limit: a watchdog quits the machine when the wall-clock limit passes, which ends even a
// step stuck in a huge pacing wait; the run then ends with ExitTimeLimit. It runs from the start,
// so start-up and every wait of the run are bounded too.
std::thread Watchdog;
std::mutex WatchdogMutex;
std::condition_variable WatchdogWake;
bool WatchdogStop = false;
std::atomic<bool> TimeUp{false};
constexpr auto HardStopGrace = std::chrono::seconds(2);

void StartWatchdog() {
    if (Opts.time_limit <= 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Opts.time_limit);
    Watchdog = std::thread([deadline] {
        std::unique_lock lock(WatchdogMutex);
        if (WatchdogWake.wait_until(lock, deadline, [] { return WatchdogStop; })) return;
        TimeUp.store(true, std::memory_order_release);
        SystemQuit();
        // A run that does not end by itself soon after is stuck where the machine is not asked
        // (waiting for standard input, an open or read that blocks): it ends here.
        if (WatchdogWake.wait_for(lock, HardStopGrace, [] { return WatchdogStop; })) return;
        std::fprintf(stderr, "lunabrik-headless: the time limit of %ld s ran out\n",
                     Opts.time_limit);
        std::fflush(stderr);
        _exit(ExitTimeLimit);
    });
}

void StopWatchdog() {
    if (!Watchdog.joinable()) return;
    {
        std::lock_guard lock(WatchdogMutex);
        WatchdogStop = true;
    }
    WatchdogWake.notify_all();
    Watchdog.join();
}

// One tick: deterministic, one tick period's instructions and the tick; in real time, the wait for
// the clock's next tick (ticks that passed meanwhile count). Returns the number of ticks passed.
uint64_t RealTicksSeen = 0;

long RunTick() {
    long passed = 1;
    if (Opts.realtime) {
        const uint64_t now = SystemWaitForTick(RealTicksSeen);
        passed = long(now - RealTicksSeen);
        RealTicksSeen = now;
    } else {
        SystemRunTick(Opts.instructions);
    }
    TickCount += passed;
    ReportHostFileWarnings();
    return passed;
}

int StallExit(uint16_t pc) {
    std::fprintf(stderr,
                 "lunabrik-headless: the processor stalled at PC=%04X on %02X %02X after %ld "
                 "ticks (an instruction it does not execute)\n",
                 pc, SystemPeek(pc), SystemPeek(uint16_t(pc + 1)), TickCount);
    return ExitStalled;
}

bool StallReported = false;

// Runs ticks until n have passed or done() holds; -1 then, otherwise the exit code (time limit,
// or a stall with --fail-on-stall).
template <typename Done> int RunTicksUntil(long n, Done done) {
    for (long passed = 0; passed < n && !done();) {
        passed += RunTick();
        if (TimeUp.load(std::memory_order_acquire)) {
            std::fprintf(stderr,
                         "lunabrik-headless: the time limit of %ld s ran out after %ld ticks\n",
                         Opts.time_limit, TickCount);
            return ExitTimeLimit;
        }
        uint16_t pc = 0;
        if (!StallReported && SystemStalled(pc)) {
            StallReported = true;
            if (Opts.fail_on_stall) return StallExit(pc);
            StallExit(pc); // reported once as a warning; the run goes on
        }
    }
    return -1;
}

int RunTicks(long n) {
    return RunTicksUntil(n, [] { return false; });
}

// Typed keys go through the pacer; the action ends when the last key is released and its gap over
// (and, with --key-ticks, not before `until`). The machine may hold keys back for as long as it
// is busy, but one that takes no key for --timeout ticks is not going to: the text left is
// dropped and counted on standard error, and the run ends as a timed-out wait does.
int TypeAndWait(long until = 0) {
    PacerStatus last = PacerReadStatus();
    long moved = TickCount;
    const int rc = RunTicksUntil(MaxTicks, [&] {
        if (!PacerBusy()) return TickCount >= until;
        const PacerStatus s = PacerReadStatus();
        if (s.text_done != last.text_done || s.texts_finished != last.texts_finished ||
            s.keys_waiting != last.keys_waiting) {
            last = s;
            moved = TickCount;
        }
        return TickCount - moved >= Opts.timeout;
    });
    if (rc >= 0 || !PacerBusy()) return rc;
    const size_t left = PacerCancelText();
    if (left)
        std::fprintf(stderr,
                     "lunabrik-headless: the machine took no key for %ld ticks; %zu characters "
                     "were not typed\n",
                     Opts.timeout, left);
    else
        std::fprintf(stderr, "lunabrik-headless: the machine took no key for %ld ticks\n",
                     Opts.timeout);
    return ExitTimedOut;
}

// --key-ticks N: each key has 2N ticks of the machine's time to itself at least (pressed, taken,
// released, then the wait), for scripts that type ahead of what the program in the machine reads.
int TypeSpaced(const std::string& codes) {
    for (size_t i = 0; i < codes.size(); ++i) {
        PacerType(std::string(1, codes[i]));
        const int rc = TypeAndWait(TickCount + 2 * Opts.key_ticks);
        if (rc == ExitTimedOut)
            std::fprintf(stderr, "lunabrik-headless: %zu more characters were not typed\n",
                         codes.size() - i - 1);
        if (rc >= 0) return rc;
    }
    return -1;
}

int WaitFor(const std::string& text) {
    const long deadline = TickCount + Opts.timeout;
    const int rc = RunTicksUntil(MaxTicks, [&] {
        return SystemScreenText().find(text) != std::string::npos || TickCount >= deadline;
    });
    if (rc >= 0) return rc;
    if (SystemScreenText().find(text) != std::string::npos) return -1;
    std::fprintf(stderr,
                 "lunabrik-headless: \"%s\" did not appear within %ld ticks; the screen:\n%s",
                 text.c_str(), Opts.timeout, SystemScreenText().c_str());
    return ExitTimedOut;
}

int WritePicture(const Action& a) {
    // Deterministic: the screen as it is now, not as of the last tick.
    const OutputResult r = SystemWritePicture(
        a.text, a.kind == ActionKind::Pbm ? PictureFormat::Pbm : PictureFormat::Png);
    if (r.ok) return -1;
    std::fprintf(stderr, "lunabrik-headless: %s\n", r.Problem(a.text).c_str());
    return ExitUsage;
}

// --save-state and --load-state: said on standard error either way, host files closed by a load
// named one a line.
int StateAction(const Action& a) {
    const StateResult r = a.kind == ActionKind::SaveState
                              ? SystemSaveState(a.text)
                              : SystemLoadState(a.text, Opts.force_state);
    if (!r.ok) {
        std::fprintf(stderr, "lunabrik-headless: %s%s\n", r.message.c_str(),
                     r.other_roms ? " Give --force-state to load it anyway." : "");
        return ExitState;
    }
    for (const std::string& slot : r.closed_slots)
        std::fprintf(stderr, "lunabrik-headless: host file %s\n", slot.c_str());
    return -1;
}

// --replay: the recorded session from its state to its end, each tick's frame into the GIF when
// --gif names one. Said on standard error how it went; a replay that left the recording (a host
// file changed since) still ends as done.
int ReplayAction(const Action& a) {
    const ReplayResult begun = ReplayBegin(a.text, Opts.force_state);
    if (!begun.ok) {
        std::fprintf(stderr, "lunabrik-headless: %s%s\n", begun.message.c_str(),
                     begun.other_roms ? " Give --force-state to play it anyway." : "");
        return ExitState;
    }
    ReplayGif gif;
    int rc = -1;
    for (;;) {
        const ReplayTick t = SystemReplayTick();
        if (t != ReplayTick::Ticked) break;
        ++TickCount;
        if (!Opts.gif.empty()) gif.AddFrame();
        if (TimeUp.load(std::memory_order_acquire)) {
            std::fprintf(stderr,
                         "lunabrik-headless: the time limit of %ld s ran out after %ld ticks\n",
                         Opts.time_limit, TickCount);
            rc = ExitTimeLimit;
            break;
        }
    }
    const ReplayStatus status = ReplayReadStatus();
    const std::string said = ReplayFinish();
    if (status.left_recording) std::fprintf(stderr, "lunabrik-headless: %s\n", said.c_str());
    ReportHostFileWarnings();
    if (rc >= 0 || Opts.gif.empty()) return rc;
    std::string error;
    if (!gif.Write(Opts.gif, error)) {
        std::fprintf(stderr, "lunabrik-headless: cannot write %s: %s\n", Opts.gif.c_str(),
                     error.c_str());
        return ExitUsage;
    }
    return -1;
}

int OutputFailed(const char* what) {
    std::fprintf(stderr, "lunabrik-headless: cannot write %s to standard output: %s\n", what,
                 std::strerror(errno));
    return ExitUsage;
}

int RunActions() {
    for (const Action& a : Opts.actions) {
        int rc = -1;
        switch (a.kind) {
        case ActionKind::Type:
            if (Opts.key_ticks > 0) {
                rc = TypeSpaced(a.text);
                break;
            }
            PacerType(a.text);
            rc = TypeAndWait();
            break;
        case ActionKind::Key:
            PacerStroke(a.key);
            rc = TypeAndWait();
            break;
        case ActionKind::WaitFor: rc = WaitFor(a.text); break;
        case ActionKind::Ticks: rc = RunTicks(a.count); break;
        case ActionKind::Screen:
            if (std::fputs(SystemScreenText().c_str(), stdout) < 0 || std::fflush(stdout) != 0)
                return OutputFailed("the screen text");
            break;
        case ActionKind::Pbm:
        case ActionKind::Png: rc = WritePicture(a); break;
        case ActionKind::SaveState:
        case ActionKind::LoadState: rc = StateAction(a); break;
        case ActionKind::Replay: rc = ReplayAction(a); break;
        }
        if (rc >= 0) return rc;
    }
    return ExitDone;
}

// The session's runs in real time: the clock's ticks, looked at every millisecond, so that a
// machine the debugger stops (and which then gets no ticks) ends the run at once instead of a wait
// for ever.
int RealTimeTicksUntil(long n, const std::function<bool()>& done) {
    const uint64_t start = SystemTicks();
    while (!done() && !SystemPaused() && long(SystemTicks() - start) < n) {
        if (TimeUp.load(std::memory_order_acquire)) {
            std::fprintf(stderr,
                         "lunabrik-headless: the time limit of %ld s ran out after %ld ticks\n",
                         Opts.time_limit, TickCount);
            return ExitTimeLimit;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // A stop pauses the machine a moment before the processor stands still and counts the stop.
    for (int i = 0; i < 10000 && SystemPaused() && !DebugStanding(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t now = SystemTicks();
    TickCount += long(now - RealTicksSeen);
    RealTicksSeen = now;
    ReportHostFileWarnings();
    return -1;
}

// --control or --script: the commands after the actions, on the same machine and ticks.
int RunSession() {
    ControlRunner runner{[](long n, const std::function<bool()>& done) {
        return Opts.realtime ? RealTimeTicksUntil(n, done) : RunTicksUntil(n, done);
    }};
    if (Opts.script.empty()) return RunControlSession(stdin, stdout, runner, false);
    // A plain file only, opened without blocking: a folder would read as nothing, a FIFO would
    // wait for a writer for ever.
    const int fd = open(Opts.script.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    const bool plain = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const int error = errno;
    std::FILE* in = plain ? fdopen(fd, "r") : nullptr;
    if (!in) {
        if (fd >= 0) close(fd);
        std::fprintf(stderr, "lunabrik-headless: cannot read the script %s: %s\n",
                     Opts.script.c_str(),
                     fd >= 0 && !plain ? "not a plain file" : std::strerror(error));
        return ExitUsage;
    }
    const int rc = RunControlSession(in, stdout, runner, true);
    std::fclose(in);
    return rc;
}

// Enters the data folder and boots the machine: -1, or the exit code of a start that failed.
// Everything start-up has to say goes to standard error.
int StartUp() {
    SystemSeedRefresh(Opts.seed); // LD A,R repeats from run to run
    StartupOptions options;
    options.choose_folder = true;
    options.folder = Opts.dir;
    options.how_to_set_speed =
        "set a speed with the desktop program's Config > Speed (or write -1, a real ABC80, or 0, "
        "full speed, as the file's first 4 bytes, little-endian)";
    StartupReport report;
    const bool started = SystemStartUp(options, report);
    for (const StartupMessage& m : report.messages)
        std::fprintf(stderr, "lunabrik-headless: %s\n", m.text.c_str());
    if (started) return -1;
    return report.Stopped()->event == StartupEvent::FolderRefused ? SystemFolderRefusedExit
                                                                  : ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) makes a write fail with EFBIG instead of killing the run: the
    // output's own error path then says so and removes its temporary file.
    std::signal(SIGXFSZ, SIG_IGN);
    // A standard stream the run was started without gets a descriptor that takes nothing: the
    // files the run opens never land on it, and answers and messages written to it fail.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDONLY | O_CLOEXEC) != fd)
            return ExitUsage;
    int rc = ParseArguments(argc, argv, Opts);
    if (rc >= 0) return rc;
    StartWatchdog();
    const auto started = std::chrono::steady_clock::now();
    rc = StartUp();
    if (rc >= 0) {
        StopWatchdog();
        return rc;
    }

    SystemWatchStalls(true);
    if (Opts.realtime) SystemStart(nullptr, nullptr);
    std::string said;
    if (!Opts.record.empty() && !RecordStart(Opts.record, said)) {
        std::fprintf(stderr, "lunabrik-headless: %s\n", said.c_str());
        SystemStop();
        StopWatchdog();
        return ExitState;
    }
    rc = RunActions();
    if (rc == ExitDone && (Opts.control || !Opts.script.empty())) rc = RunSession();
    // A recording the session cut short (a loaded state, a debugger's edit) says where it ended.
    if (const std::string notice = RecordTakeNotice(); !notice.empty())
        std::fprintf(stderr, "lunabrik-headless: %s\n", notice.c_str());
    if (Recording() && !RecordStop(said)) {
        std::fprintf(stderr, "lunabrik-headless: %s\n", said.c_str());
        if (rc == ExitDone) rc = ExitState;
    }
    SystemStop();
    StopWatchdog();
    ReportHostFileWarnings();
    if (Opts.stats) {
        const SystemCounts counts = SystemReadCounts();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (std::printf("instructions %llu\ntstates %llu\nticks %ld\nseconds %.3f\n",
                        static_cast<unsigned long long>(counts.instructions),
                        static_cast<unsigned long long>(counts.tstates), TickCount, seconds) < 0 ||
            std::fflush(stdout) != 0) {
            int out = OutputFailed("the statistics");
            if (rc == ExitDone) rc = out;
        }
    }
    if (rc == ExitDone && WarningsSeen > 0) rc = ExitHostFileWarning;
    return rc;
}
