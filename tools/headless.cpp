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
// Exit codes: 0 done, 1 a --wait-for timed out, 2 bad arguments or a missing file, 3 the processor
// stalled and --fail-on-stall was given.
#include "cpu/processor.h"
#include "display/display.h"
#include "machine/control.h"
#include "machine/keyboard.h"
#include "machine/memory.h"
#include "machine/settings.h"
#include "tools/png_writer.h"

#include <atomic>
#include <chrono>
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

constexpr uint8_t ScanLeftShift = 42;
constexpr uint8_t ScanControl = 29;
constexpr uint8_t ScanCapsLock = 58;
constexpr uint8_t CodeEnter = 0x0D;

// A stall repeats the same prefix at the same PC with nothing changed; this many in a row, without
// the instruction ever executing in between, count as stuck.
constexpr uint32_t StallSteps = 1000;

const char* const HelpText =
    "usage: lunabrik-headless [options]\n"
    "Runs the ABC80 emulation without a window, from basic.rom, dev_dos.rom, font.bin and\n"
    "Lunabrik.cfg in the working directory. Actions run in the order given:\n"
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
    "  --help            this text\n"
    "Exit codes: 0 done, 1 wait timed out, 2 bad arguments or missing file, 3 stalled.\n";

enum class ActionKind { Type, Key, WaitFor, Ticks, Screen, Pbm, Png };

// One key press as the keyboard model sees it.
struct KeyStroke {
    uint8_t scan_code;
    bool shift;
    bool control;
};

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
    bool realtime = false;
    bool fail_on_stall = false;
    std::vector<Action> actions;
};

Options Opts;

// --- Typing: text to ABC80 codes to key strokes -------------------------------------------------

// The Swedish letters of the ABC80's 7-bit set, by Unicode code point.
struct SwedishLetter {
    uint32_t unicode;
    uint8_t code;
};
constexpr SwedishLetter SwedishLetters[] = {
    {0x00A4, 0x24}, {0x00C9, 0x40}, {0x00C4, 0x5B}, {0x00D6, 0x5C}, {0x00C5, 0x5D}, {0x00DC, 0x5E},
    {0x00E9, 0x60}, {0x00E4, 0x7B}, {0x00F6, 0x7C}, {0x00E5, 0x7D}, {0x00FC, 0x7E},
};

// Decodes one UTF-8 character at s[i]; advances i. Returns 0xFFFFFFFF for a malformed sequence.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
    uint8_t b = uint8_t(s[i++]);
    if (b < 0x80) return b;
    int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (more < 0) return 0xFFFFFFFF;
    uint32_t cp = b & (0x3F >> more);
    for (int k = 0; k < more; k++) {
        if (i >= s.size() || (uint8_t(s[i]) & 0xC0) != 0x80) return 0xFFFFFFFF;
        cp = cp << 6 | (uint8_t(s[i++]) & 0x3F);
    }
    return cp;
}

// The ABC80 code for a character, or -1. ASCII stands for itself: the characters the Swedish set
// replaces ($ @ [ \ ] ^ ` { | } ~) give the same codes as their Swedish letters.
int CodeForCharacter(uint32_t cp) {
    if (cp < 0x80) return int(cp);
    for (const auto& l : SwedishLetters)
        if (l.unicode == cp) return l.code;
    return -1;
}

bool KeyForCode(uint8_t code, KeyStroke& key) {
    return FindKeyForCode(code, key.scan_code, key.shift, key.control);
}

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
            uint32_t cp = NextCodePoint(text, i);
            code = CodeForCharacter(cp);
            if (code < 0) {
                std::fprintf(stderr,
                             "lunabrik-headless: --type: U+%04X is not an ABC80 character\n", cp);
                return false;
            }
        }
        KeyStroke key;
        if (code > 0x7F || !KeyForCode(uint8_t(code), key)) {
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
    int code = CodeForCharacter(NextCodePoint(name, i));
    if (code < 0 || i != name.size() || !KeyForCode(uint8_t(code), key)) return false;
    key.shift = key.shift || shift;
    key.control = key.control || ctrl;
    return true;
}

bool ParseNumber(const char* text, long minimum, long& out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < minimum) return false;
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
        if (a == "--help" || a == "-h") {
            std::fputs(HelpText, stdout);
            return ExitDone;
        } else if (a == "--realtime") {
            Opts.realtime = true;
        } else if (a == "--fail-on-stall") {
            Opts.fail_on_stall = true;
        } else if (a == "--screen") {
            Opts.actions.push_back({ActionKind::Screen, {}, 0, {}});
        } else if (a == "--timeout" || a == "--instructions" || a == "--key-ticks" ||
                   a == "--ticks") {
            long n = 0;
            if (!value(v)) return Usage("missing number after", a.c_str());
            if (!ParseNumber(v, a == "--instructions" ? 1 : 0, n))
                return Usage((a + " wants a number, not").c_str(), v);
            if (a == "--timeout")
                Opts.timeout = n;
            else if (a == "--instructions")
                Opts.instructions = n;
            else if (a == "--key-ticks")
                Opts.key_ticks = n;
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
            if (!value(v)) return Usage("missing file name after", a.c_str());
            Opts.actions.push_back({a == "--pbm" ? ActionKind::Pbm : ActionKind::Png, v, 0, {}});
        } else {
            return Usage("unknown option", a.c_str());
        }
    }
    return -1;
}

// --- The screen as text
// ---------------------------------------------------------------------------

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

constexpr uint32_t FullBlock = 0x2588;

// A text cell: control codes and the other codes below 0x20 show blank, 0x7F is a full block.
uint32_t TextCellCharacter(uint8_t m) {
    if (m < 0x20) return ' ';
    if (m == 0x7F) return FullBlock;
    for (const auto& l : SwedishLetters)
        if (l.code == m) return l.unicode;
    return m;
}

// A mosaic cell: codes 0x40-0x5F are the capitals; the others are 2 x 3 blocks (bits 0/1 top,
// 2/3 middle, 4/6 bottom), shown as Unicode sextants, whose bits run in the same order.
uint32_t MosaicCellCharacter(uint8_t m) {
    if (m < 0x20) return ' ';
    if (m >= 0x40 && m < 0x60) return TextCellCharacter(m);
    unsigned v = (m & 0x1F) | (m & 0x40) >> 1;
    switch (v) {
    case 0: return ' ';
    case 21: return 0x258C; // left half block
    case 42: return 0x2590; // right half block
    case 63: return FullBlock;
    default: return 0x1FB00 + v - 1 - (v > 21) - (v > 42);
    }
}

// The 24 rows as UTF-8, trailing blanks dropped, each row ended by a newline. Each row starts in
// the text set; a set-switching control code changes the set for the rest of its row.
std::string ScreenAsText() {
    char text[ScreenRows][ScreenColumns + 1];
    ReadScreenText(text);
    std::string out;
    for (int r = 0; r < ScreenRows; r++) {
        std::string row;
        bool mosaic = false;
        for (int c = 0; c < ScreenColumns; c++) {
            uint8_t m = uint8_t(text[r][c]);
            if (IsControlCode(m)) mosaic = (m & 0x10) != 0;
            AppendUtf8(row, mosaic ? MosaicCellCharacter(m) : TextCellCharacter(m));
        }
        row.erase(row.find_last_not_of(' ') + 1);
        out += row;
        out += '\n';
    }
    return out;
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

// Real-time mode: the processor and the timer each run on a thread of their own.
std::thread ProcessorThread;
std::thread TimerThread;
std::atomic<bool> TimerStop{false};
std::atomic<uint32_t> TimerTicks{0};
uint32_t TimerTicksSeen = 0;

void TimerThreadBody() {
    auto next = std::chrono::steady_clock::now();
    while (!TimerStop.load(std::memory_order_relaxed)) {
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
        SetControlFlags(TICK);
        TimerTicks.fetch_add(1, std::memory_order_release);
        TimerTicks.notify_all();
    }
}

void StartRealTime() {
    if (Opts.fail_on_stall) {
        ProcessorThread = std::thread([] {
            while (WatchedStep()) {
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

// One tick. Deterministic: run the instructions of one tick period, then raise TICK. Real time:
// wait for the timer's next tick; ticks that passed meanwhile collapse into one frame, as on the
// RenderThread, but still count. Returns the number of ticks that passed.
long RunTick() {
    long passed = 1;
    if (Opts.realtime) {
        TimerTicks.wait(TimerTicksSeen, std::memory_order_acquire);
        uint32_t now = TimerTicks.load(std::memory_order_acquire);
        passed = long(now - TimerTicksSeen);
        TimerTicksSeen = now;
    } else {
        for (long i = 0; i < Opts.instructions; i++) {
            // HALT waits for the tick: nothing runs for the rest of this period.
            uint32_t flags = ReadControlFlags();
            if ((flags & HALTED) && !(flags & (TICK | RESET | QUIT))) break;
            WatchedStep();
        }
        SetControlFlags(TICK);
    }
    RenderFrame();
    frame_count++;
    TickCount += passed;
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
        if (Stall.stalled.load(std::memory_order_acquire) && !StallReported) {
            StallReported = true;
            if (Opts.fail_on_stall) return StallExit();
            StallExit(); // reported once as a warning; the run goes on
        }
    }
    return -1;
}

// Presses a key with its modifiers, holds it for key_ticks, releases it, waits key_ticks more.
// With CAPS on, a letter key would give its capital whatever shift says, so Caps Lock is toggled
// off around it and on again.
int PressKey(const KeyStroke& key) {
    uint8_t index = key.scan_code < KeyScanCodes ? KeyIndexTable[key.scan_code] : 0;
    bool caps_toggle = (KeyboardState.modifiers & CAPS) && LetterKeyTable[index] && !key.shift;
    if (caps_toggle) {
        KeyEvent(ScanCapsLock, true);
        KeyEvent(ScanCapsLock, false);
    }
    if (key.shift) KeyEvent(ScanLeftShift, true);
    if (key.control) KeyEvent(ScanControl, true);
    KeyEvent(key.scan_code, true);
    int rc = RunTicks(Opts.key_ticks);
    KeyEvent(key.scan_code, false);
    if (key.control) KeyEvent(ScanControl, false);
    if (key.shift) KeyEvent(ScanLeftShift, false);
    if (caps_toggle) {
        KeyEvent(ScanCapsLock, true);
        KeyEvent(ScanCapsLock, false);
    }
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
    int ok = a.kind == ActionKind::Pbm ? WriteFramePbm(a.text.c_str())
                                       : WritePng1Bit(a.text.c_str(), &FrameBitmap[0][0],
                                                      FramePixels, FrameLines, FrameLineBytes);
    if (ok) return -1;
    std::fprintf(stderr, "lunabrik-headless: cannot write %s\n", a.text.c_str());
    return ExitUsage;
}

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
            std::fputs(ScreenAsText().c_str(), stdout);
            std::fflush(stdout);
            break;
        case ActionKind::Pbm:
        case ActionKind::Png: rc = WritePicture(a); break;
        }
        if (rc >= 0) return rc;
    }
    return ExitDone;
}

int MissingFile(const char* name) {
    char folder[4096];
    if (!getcwd(folder, sizeof folder)) std::strcpy(folder, ".");
    std::fprintf(stderr, "lunabrik-headless: cannot open %s in %s\n", name, folder);
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    int rc = ParseArguments(argc, argv);
    if (rc >= 0) return rc;

    ReadSettings();
    const char* missing = nullptr;
    if (!LoadAddressSpace(&missing)) return MissingFile(missing ? missing : "basic.rom");
    if (!BuildCharacterGenerator()) return MissingFile("font.bin");
    ProcessorReset();

    if (Opts.realtime) StartRealTime();
    rc = RunActions();
    StopRealTime();
    return rc;
}
