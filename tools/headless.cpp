// lunabrik-headless: runs the emulated ABC80 without a window, for scripts and tests.
//
// It starts the machine as the desktop program does (Lunabrik.cfg, basic.rom, dev_dos.rom and
// font.bin from the working directory, then a processor reset) and executes its options in order:
// typing, waiting for screen text, running ticks, dumping the screen as text, PBM or PNG.
//
// Time: by default one tick (TICK raised, the NMI every 20 ms of the real machine, and one frame
// rendered) follows every N executed instructions, all on this thread, so a run is repeatable.
// With --realtime the processor runs on its own thread and a timer thread raises TICK every 20 ms.
//
// Exit codes: 0 done, 1 a --wait-for timed out, 2 bad arguments, a missing file or an output that
// cannot be written, 3 the processor stalled and --fail-on-stall was given, 4 a host file could not
// be written or created, 5 the --time-limit ran out.
#include "cpu/processor.h"
#include "display/display.h"
#include "display/picture_files.h"
#include "display/render_event.h"
#include "machine/charmap.h"
#include "machine/control.h"
#include "host/data_folder.h"
#include "host/file_io.h"
#include "machine/host_files.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "host/settings.h"
#include "system/startup.h"
#include "system/typing.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ExitDone = 0;
constexpr int ExitTimedOut = 1;
constexpr int ExitUsage = 2;
constexpr int ExitStalled = 3;
constexpr int ExitHostFileWarning = 4;
constexpr int ExitTimeLimit = 5;

constexpr uint8_t ScanLeftShift = 42;
constexpr uint8_t ScanControl = 29;
constexpr uint8_t ScanCapsLock = 58;

// A stall repeats the same prefix at the same PC with nothing changed; this many in a row, without
// the instruction ever executing in between, count as stuck.
constexpr uint32_t StallSteps = 1000;

const char* const HelpText =
    "usage: lunabrik-headless [options]\n"
    "Runs the ABC80 emulation without a window, from basic.rom, dev_dos.rom, font.bin and\n"
    "Lunabrik.cfg in its folder: the working directory when it holds basic.rom, else the\n"
    "per-user folder $XDG_DATA_HOME/lunabrik (~/.local/share/lunabrik), which is created and\n"
    "given the installed free images. Actions run in the order given:\n"
    "  --type TEXT       type TEXT (UTF-8, Swedish letters included); escapes: \\r or \\n Enter,\n"
    "                    \\t right arrow, \\b backspace, \\\\ backslash, \\xHH the ABC80 code HH\n"
    "                    (\\x03 is Ctrl-C)\n"
    "  --key KEY         press and release one key: [ctrl+][shift+]NAME, NAME a character,\n"
    "                    enter, space, backspace, left, right, caps, or a set-1 scan code number\n"
    "  --wait-for TEXT   run until the screen shows TEXT (exit 1 when the timeout runs out)\n"
    "  --ticks N         run N ticks\n"
    "  --screen          print the screen as UTF-8 text, 24 lines\n"
    "  --pbm FILE        write the picture (240 x 240) as PBM\n"
    "  --png FILE        write the picture as PNG\n"
    "Settings for the whole run, wherever they stand:\n"
    "  --timeout N       ticks a --wait-for may take (default 500)\n"
    "  --instructions N  instructions per tick (default 40000)\n"
    "  --realtime        tick every 20 ms of real time instead, processor on its own thread\n"
    "  --key-ticks N     ticks a typed key is held, and ticks after its release (default 2)\n"
    "  --fail-on-stall   exit 3 when the processor stalls on an instruction it cannot execute\n"
    "  --dir FOLDER      work in FOLDER instead (created and given the free images if needed)\n"
    "  --seed N          seed of the LD A,R generator (default 0), so runs repeat\n"
    "  --stats           at the end print instructions, T-states, ticks and wall-clock seconds\n"
    "  --time-limit S    end the run after S seconds of wall-clock time (exit 5)\n"
    "  --help            this text\n"
    "The speed is Lunabrik.cfg's waitstates, as in the desktop program: 0 as fast as possible,\n"
    "N idle iterations before each instruction, -1 a real ABC80 (at most 60,000 T-states, 3 MHz,\n"
    "per tick; with --realtime that is the real pace).\n"
    "Exit codes: 0 done, 1 wait timed out, 2 bad arguments, a missing file or an output that\n"
    "cannot be written, 3 stalled, 4 a host file could not be written or created (said on\n"
    "standard error), 5 time limit reached.\n";

enum class ActionKind { Type, Key, WaitFor, Ticks, Screen, Pbm, Png };

struct Action {
    ActionKind kind;
    std::string text;            // wait text or file name
    long count = 0;              // ticks
    std::vector<KeyStroke> keys; // type, key
};

struct Options {
    long timeout = 500;
    long instructions = 40000;
    long key_ticks = 2;
    long time_limit = 0; // seconds of wall clock, 0: none
    uint32_t seed = 0;   // the LD A,R generator's seed
    bool realtime = false;
    bool fail_on_stall = false;
    bool stats = false;
    const char* dir = nullptr; // --dir
    std::vector<Action> actions;
};

Options Opts;

// --- Typing: text to ABC80 codes to key strokes -------------------------------------------------

// Turns --type text into key strokes; false with a message for text that cannot be typed.
bool ParseTypedText(const std::string& text, std::vector<KeyStroke>& keys) {
    for (size_t i = 0; i < text.size();) {
        int code;
        if (text[i] == '\\' && i + 1 < text.size()) {
            char e = text[i + 1];
            i += 2;
            switch (e) {
            case 'r':
            case 'n': code = CodeEnter; break;
            case 't': code = 0x09; break;
            case 'b': code = 0x08; break;
            case '\\': code = '\\'; break;
            case 'x': {
                size_t used = 0;
                std::string hex = text.substr(i, 2);
                unsigned long v = 0;
                try {
                    v = std::stoul(hex, &used, 16);
                } catch (...) {
                    used = 0;
                }
                if (used != 2) {
                    std::fprintf(stderr, "lunabrik-headless: --type: \\x needs two hex digits\n");
                    return false;
                }
                i += 2;
                code = int(v);
                break;
            }
            default:
                std::fprintf(stderr, "lunabrik-headless: --type: unknown escape \\%c\n", e);
                return false;
            }
        } else {
            uint32_t cp = 0;
            const size_t at = i;
            if (!DecodeUtf8(text.data(), text.size(), i, cp)) {
                std::fprintf(stderr,
                             "lunabrik-headless: --type: malformed UTF-8 at byte offset %zu\n", at);
                return false;
            }
            code = Abc80CodeForCharacter(cp);
            if (code < 0) {
                std::fprintf(stderr,
                             "lunabrik-headless: --type: U+%04X is not an ABC80 character\n", cp);
                return false;
            }
        }
        KeyStroke key;
        if (code > 0x7F || !KeyStrokeForCode(uint8_t(code), key)) {
            std::fprintf(stderr, "lunabrik-headless: --type: no key gives the code 0x%02X\n", code);
            return false;
        }
        keys.push_back(key);
    }
    return true;
}

// --key [ctrl+][shift+]NAME.
bool ParseKey(std::string name, KeyStroke& key) {
    bool ctrl = false, shift = false;
    for (;;) {
        if (name.rfind("ctrl+", 0) == 0) {
            ctrl = true;
            name.erase(0, 5);
        } else if (name.rfind("shift+", 0) == 0) {
            shift = true;
            name.erase(0, 6);
        } else {
            break;
        }
    }
    struct Named {
        const char* name;
        uint8_t scan_code;
    };
    static const Named names[] = {
        {"enter", 28}, {"space", 57},          {"backspace", 14},        {"left", 75},
        {"right", 77}, {"caps", ScanCapsLock}, {"shift", ScanLeftShift}, {"ctrl", ScanControl}};
    for (const auto& n : names) {
        if (name == n.name) {
            key = {n.scan_code, shift, ctrl};
            return true;
        }
    }
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
        unsigned long s = std::strtoul(name.c_str(), nullptr, 10);
        if (s > 255) return false;
        key = {uint8_t(s), shift, ctrl};
        return true;
    }
    // A single character: its key, with the modifiers it needs plus the ones asked for.
    size_t i = 0;
    if (name.empty()) return false;
    uint32_t cp = 0;
    if (!DecodeUtf8(name.data(), name.size(), i, cp)) return false;
    int code = Abc80CodeForCharacter(cp);
    if (code < 0 || i != name.size() || !KeyStrokeForCode(uint8_t(code), key)) return false;
    key.shift = key.shift || shift;
    key.control = key.control || ctrl;
    return true;
}

// A whole decimal number within [minimum, maximum]; anything else (sign in the wrong place,
// trailing text, out of range) is refused.
bool ParseNumber(const char* text, long minimum, long maximum, long& out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno == ERANGE || v < minimum || v > maximum) return false;
    out = v;
    return true;
}

int Usage(const char* what, const char* arg = nullptr) {
    if (arg)
        std::fprintf(stderr, "lunabrik-headless: %s: %s\n", what, arg);
    else
        std::fprintf(stderr, "lunabrik-headless: %s\n", what);
    std::fprintf(stderr, "Try --help.\n");
    return ExitUsage;
}

// The numeric options and the range each accepts.
struct NumberOption {
    const char* name;
    long minimum;
    long maximum;
};
constexpr long MaxTicks = 100000000; // about 23 days of 20 ms ticks
constexpr NumberOption NumberOptions[] = {
    {"--timeout", 0, MaxTicks}, {"--instructions", 1, 1000000000},   {"--key-ticks", 1, 1000},
    {"--ticks", 0, MaxTicks},   {"--time-limit", 1, 31 * 24 * 3600}, {"--seed", 0, 4294967295L},
};

// Returns -1 when parsing succeeded, otherwise the exit code.
int ParseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        const NumberOption* number = nullptr;
        for (const auto& o : NumberOptions)
            if (a == o.name) number = &o;
        if (a == "--help" || a == "-h") {
            if (std::fputs(HelpText, stdout) < 0 || std::fflush(stdout) != 0) return ExitUsage;
            return ExitDone;
        } else if (a == "--realtime") {
            Opts.realtime = true;
        } else if (a == "--fail-on-stall") {
            Opts.fail_on_stall = true;
        } else if (a == "--stats") {
            Opts.stats = true;
        } else if (a == "--dir") {
            if (!value(v) || !*v) return Usage("missing folder after --dir");
            Opts.dir = v;
        } else if (a == "--screen") {
            Opts.actions.push_back({ActionKind::Screen, {}, 0, {}});
        } else if (number) {
            long n = 0;
            if (!value(v)) return Usage("missing number after", a.c_str());
            if (!ParseNumber(v, number->minimum, number->maximum, n)) {
                std::fprintf(stderr,
                             "lunabrik-headless: %s wants a whole number from %ld to %ld, "
                             "not: %s\n",
                             number->name, number->minimum, number->maximum, v);
                return ExitUsage;
            }
            if (a == "--timeout")
                Opts.timeout = n;
            else if (a == "--instructions")
                Opts.instructions = n;
            else if (a == "--key-ticks")
                Opts.key_ticks = n;
            else if (a == "--time-limit")
                Opts.time_limit = n;
            else if (a == "--seed")
                Opts.seed = uint32_t(n);
            else
                Opts.actions.push_back({ActionKind::Ticks, {}, n, {}});
        } else if (a == "--type") {
            if (!value(v)) return Usage("missing text after --type");
            Action act{ActionKind::Type, v, 0, {}};
            if (!ParseTypedText(v, act.keys)) return ExitUsage;
            Opts.actions.push_back(act);
        } else if (a == "--key") {
            if (!value(v)) return Usage("missing key after --key");
            KeyStroke key;
            if (!ParseKey(v, key)) return Usage("unknown key", v);
            Opts.actions.push_back({ActionKind::Key, v, 0, {key}});
        } else if (a == "--wait-for") {
            if (!value(v)) return Usage("missing text after --wait-for");
            Opts.actions.push_back({ActionKind::WaitFor, v, 0, {}});
        } else if (a == "--pbm" || a == "--png") {
            if (!value(v) || !*v) return Usage("missing file name after", a.c_str());
            // Named from where the user started the runner, whichever folder it then works in.
            std::string path = v;
            char here[4096];
            if (path[0] != '/' && getcwd(here, sizeof here)) path = std::string(here) + "/" + path;
            Opts.actions.push_back({a == "--pbm" ? ActionKind::Pbm : ActionKind::Png, path, 0, {}});
        } else {
            return Usage("unknown option", a.c_str());
        }
    }
    return -1;
}

// --- Driving the core --------------------------------------------------------------------------

// Watches single steps for a stall: the processor sits on a prefix at one PC and the step
// changed nothing. Runs on the thread that steps the processor; the verdict is shared.
struct StallWatch {
    uint16_t pc = 0;
    uint32_t count = 0;
    std::atomic<bool> stalled{false};
    uint16_t stalled_pc = 0; // written before stalled is set
};

StallWatch Stall;

bool IsPrefix(uint8_t op) { return op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD; }

// One processor step with the stall check. Steps that take an interrupt (the flags say one is
// due) neither count nor clear the count, so a stall survives the NMI handler of every tick.
bool WatchedStep() {
    const uint32_t flags = ReadControlFlags();
    const CpuRegisters before = CpuState;
    if (!ProcessorStep()) return false;
    if (flags & (TICK | KEY | RESET)) return true;
    const bool stuck = CpuState.PC == before.PC && IsPrefix(ReadByte(before.PC)) &&
                       std::memcmp(&before, &CpuState, sizeof before) == 0;
    if (stuck) {
        if (Stall.pc != before.PC) Stall.count = 0;
        Stall.pc = before.PC;
        if (++Stall.count == StallSteps && !Stall.stalled.load(std::memory_order_relaxed)) {
            Stall.stalled_pc = before.PC;
            Stall.stalled.store(true, std::memory_order_release);
        }
    } else if (before.PC == Stall.pc) {
        Stall.count = 0; // the instruction there did execute
    }
    return true;
}

long TickCount = 0; // ticks run so far, on the main thread

// Host file failures the guest cannot be told about (a full disk, a refused create): each is said
// on standard error as it is seen, and the run ends with ExitHostFileWarning.
uint32_t WarningsSeen = 0;

void ReportHostFileWarnings() {
    const uint32_t count = HostFileWarningCount();
    if (count == WarningsSeen) return;
    HostFileWarning w;
    if (ReadLatestHostFileWarning(w)) {
        if (w.number > WarningsSeen + 1)
            std::fprintf(stderr, "lunabrik-headless: %u earlier host file warnings\n",
                         w.number - WarningsSeen - 1);
        std::fprintf(stderr, "lunabrik-headless: host file %s: %s\n", w.path, w.reason);
    }
    WarningsSeen = count;
}

// Real-time mode: the processor and the timer each run on a thread of their own; the timer's
// tick wakes the main thread through TickEvent.
std::thread ProcessorThread;
std::thread TimerThread;
std::atomic<bool> TimerStop{false};
std::atomic<uint32_t> TimerTicks{0};
uint32_t TimerTicksSeen = 0;
RenderEvent TickEvent;

void TimerThreadBody() {
    auto next = std::chrono::steady_clock::now();
    while (!TimerStop.load(std::memory_order_relaxed)) {
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
        TimerTicks.fetch_add(1, std::memory_order_release);
        MachineTick(&TickEvent);
    }
}

void StartRealTime() {
    if (Opts.fail_on_stall) {
        ProcessorThread = std::thread([] {
            while (WatchedStep()) {
                // Real speed with its budget spent: sleep until a flag changes, as the
                // ProcessorThread itself does.
                const uint32_t flags = ReadControlFlags();
                if (ProcessorWaitingForTick() && !(flags & (TICK | RESET | QUIT)))
                    ControlFlags.wait(flags, std::memory_order_acquire);
            }
        });
    } else {
        ProcessorThread = std::thread([] { ProcessorThreadBody(); });
    }
    TimerThread = std::thread(TimerThreadBody);
}

void StopRealTime() {
    if (!ProcessorThread.joinable()) return;
    SetControlFlags(QUIT);
    ProcessorThread.join();
    TimerStop.store(true, std::memory_order_relaxed);
    TimerThread.join();
}

// --time-limit: a watchdog sets QUIT when the wall-clock limit passes, which ends even a step
// stuck in a huge pacing wait; the run then ends with ExitTimeLimit.
std::thread Watchdog;
std::mutex WatchdogMutex;
std::condition_variable WatchdogWake;
bool WatchdogStop = false;
std::atomic<bool> TimeUp{false};

void StartWatchdog() {
    if (Opts.time_limit <= 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Opts.time_limit);
    Watchdog = std::thread([deadline] {
        std::unique_lock lock(WatchdogMutex);
        if (WatchdogWake.wait_until(lock, deadline, [] { return WatchdogStop; })) return;
        TimeUp.store(true, std::memory_order_release);
        SetControlFlags(QUIT);
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

// One tick. Deterministic: run the instructions of one tick period, then the tick itself (TICK
// and a frame). Real time: wait for the timer's next tick; ticks that passed meanwhile collapse
// into one frame, as on the RenderThread, but still count. Returns the number of ticks that passed.
long RunTick() {
    long passed = 1;
    if (Opts.realtime) {
        TickEvent.Wait();
        uint32_t now = TimerTicks.load(std::memory_order_acquire);
        passed = long(now - TimerTicksSeen);
        TimerTicksSeen = now;
        RenderFrame();
        frame_count++;
    } else {
        for (long i = 0; i < Opts.instructions; i++) {
            // HALT waits for the tick: nothing runs for the rest of this period.
            uint32_t flags = ReadControlFlags();
            if ((flags & HALTED) && !(flags & (TICK | RESET | QUIT))) break;
            if (!WatchedStep()) break;            // QUIT: the time limit passed
            if (ProcessorWaitingForTick()) break; // real speed: this tick's budget is spent
        }
        MachineTick(nullptr);
    }
    TickCount += passed;
    ReportHostFileWarnings();
    return passed;
}

int StallExit() {
    std::fprintf(stderr,
                 "lunabrik-headless: the processor stalled at PC=%04X on %02X %02X after %ld "
                 "ticks (an instruction it does not execute)\n",
                 Stall.stalled_pc, ReadMemoryShared(Stall.stalled_pc),
                 ReadMemoryShared(uint16_t(Stall.stalled_pc + 1)), TickCount);
    return ExitStalled;
}

bool StallReported = false;

// Runs n ticks; -1 when all ran, otherwise the exit code (a stall with --fail-on-stall).
int RunTicks(long n) {
    for (long done = 0; done < n;) {
        done += RunTick();
        if (TimeUp.load(std::memory_order_acquire)) {
            std::fprintf(stderr,
                         "lunabrik-headless: the time limit of %ld s ran out after %ld ticks\n",
                         Opts.time_limit, TickCount);
            return ExitTimeLimit;
        }
        if (Stall.stalled.load(std::memory_order_acquire) && !StallReported) {
            StallReported = true;
            if (Opts.fail_on_stall) return StallExit();
            StallExit(); // reported once as a warning; the run goes on
        }
    }
    return -1;
}

// Presses a key with its modifiers, holds it for key_ticks, releases it, waits key_ticks more.
int PressKey(const KeyStroke& key) {
    const KeyWatch watch = WatchKey();
    const bool caps_toggled = PressKeyStroke(key);
    int rc = RunTicks(Opts.key_ticks);
    // In real time the processor thread may not have run yet: hold the key until the machine has
    // taken it (or, its interrupts off, is not going to), so no key is lost on a busy host.
    while (rc < 0 && Opts.realtime && CheckKeyTaken(watch) == KeyTake::Waiting)
        rc = RunTicks(1);
    ReleaseKeyStroke(key, caps_toggled);
    if (rc >= 0) return rc;
    return RunTicks(Opts.key_ticks);
}

int WaitFor(const std::string& text) {
    const long deadline = TickCount + Opts.timeout;
    for (;;) {
        if (ScreenAsText().find(text) != std::string::npos) return -1;
        if (TickCount >= deadline) break;
        int rc = RunTicks(1);
        if (rc >= 0) return rc;
    }
    std::fprintf(stderr,
                 "lunabrik-headless: \"%s\" did not appear within %ld ticks; the screen:\n%s",
                 text.c_str(), Opts.timeout, ScreenAsText().c_str());
    return ExitTimedOut;
}

int WritePicture(const Action& a) {
    RenderFrame(); // the screen as it is now, not as of the last tick
    int ok =
        a.kind == ActionKind::Pbm ? WriteFramePbm(a.text.c_str()) : WriteFramePng(a.text.c_str());
    if (ok) return -1;
    const std::string refusal = OutputRefusal(a.text.c_str());
    if (!refusal.empty())
        std::fprintf(stderr, "lunabrik-headless: not writing %s: it is %s, not a plain file\n",
                     a.text.c_str(), refusal.c_str());
    else
        std::fprintf(stderr, "lunabrik-headless: cannot write %s: %s\n", a.text.c_str(),
                     std::strerror(errno));
    return ExitUsage;
}

int OutputFailed(const char* what);

int RunActions() {
    for (const Action& a : Opts.actions) {
        int rc = -1;
        switch (a.kind) {
        case ActionKind::Type:
        case ActionKind::Key:
            for (const KeyStroke& k : a.keys)
                if ((rc = PressKey(k)) >= 0) break;
            break;
        case ActionKind::WaitFor: rc = WaitFor(a.text); break;
        case ActionKind::Ticks: rc = RunTicks(a.count); break;
        case ActionKind::Screen:
            if (std::fputs(ScreenAsText().c_str(), stdout) < 0 || std::fflush(stdout) != 0)
                return OutputFailed("the screen text");
            break;
        case ActionKind::Pbm:
        case ActionKind::Png: rc = WritePicture(a); break;
        }
        if (rc >= 0) return rc;
    }
    return ExitDone;
}

int OutputFailed(const char* what) {
    std::fprintf(stderr, "lunabrik-headless: cannot write %s to standard output: %s\n", what,
                 std::strerror(errno));
    return ExitUsage;
}

DataFolderReport Folder;

int MissingFile(const char* name) {
    char folder[4096];
    if (!getcwd(folder, sizeof folder)) std::strcpy(folder, ".");
    std::fprintf(stderr, "lunabrik-headless: cannot open %s in %s\n", name, folder);
    std::string looked;
    for (const auto& f : Folder.looked_in)
        looked += "\n  " + f;
    std::fprintf(stderr,
                 "Looked in:%s\nPut basic.rom, dev_dos.rom and font.bin into one of them, or name "
                 "a folder with --dir.\n",
                 looked.c_str());
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    int rc = ParseArguments(argc, argv);
    if (rc >= 0) return rc;

    if (!EnterDataFolder(Opts.dir, Folder)) {
        std::fprintf(stderr, "lunabrik-headless: %s\n", Folder.error.c_str());
        return ExitUsage;
    }
    SetRefreshSeed(Opts.seed); // LD A,R repeats from run to run
    const auto started = std::chrono::steady_clock::now();
    StartupReport report;
    if (!StartMachine(StartupOptions{}, report)) return MissingFile(report.missing_rom);
    if (!report.font_loaded) return MissingFile("font.bin");
    const std::string slow = SlowWaitstatesNotice(
        Waitstates(), PacingIterationsPerSecond(), Folder.folder + "/" + SettingsFileName,
        "set a speed with the desktop program's Config > Speed (or write -1, a real ABC80, or 0, "
        "full speed, as the file's first 4 bytes, little-endian)");
    if (!slow.empty()) std::fprintf(stderr, "lunabrik-headless: %s\n", slow.c_str());

    StartWatchdog();
    if (Opts.realtime) StartRealTime();
    rc = RunActions();
    StopRealTime();
    StopWatchdog();
    ReportHostFileWarnings();
    if (Opts.stats) {
        const ProcessorCounts counts = ReadProcessorCounts();
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
