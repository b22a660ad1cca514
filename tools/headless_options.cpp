#include "tools/headless_options.h"

#include "system/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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
    "  --save-state FILE save the whole machine to FILE (.lbs)\n"
    "  --load-state FILE load a saved machine; its host files are opened again by name (a\n"
    "                    slot whose file is gone or shorter is closed and named)\n"
    "  --replay FILE     replay a recorded session (.lbr): the machine starts from its state\n"
    "                    and runs it to its end, keys and ticks where they were recorded (exit\n"
    "                    6 when it cannot be played, a damaged file included)\n"
    "  --control         then take commands, one JSON object a line, from standard input and\n"
    "                    answer each with one JSON line (see docs/debugger.md)\n"
    "  --script FILE     then run the commands of FILE the same way (exit: the last failed\n"
    "                    command's code, 0 when all succeeded)\n"
    "Settings for the whole run, wherever they stand:\n"
    "  --timeout N       ticks a --wait-for may take, and a --type or --key may wait\n"
    "                    for the machine to take a key (default 500; exit 1 past it)\n"
    "  --instructions N  instructions per tick (default 40000)\n"
    "  --realtime        tick every 20 ms of real time instead, processor on its own thread\n"
    "  --key-ticks N     give each typed key at least 2N ticks to itself, for scripts that\n"
    "                    type ahead of the program (default: the pace of the desktop program,\n"
    "                    as fast as the machine takes keys)\n"
    "  --fail-on-stall   exit 3 when the processor stalls on an instruction it cannot execute\n"
    "  --dir FOLDER      work in FOLDER instead (created and given the free images if needed)\n"
    "  --seed N          seed of the LD A,R generator (default 0), so runs repeat\n"
    "  --stats           at the end print instructions, T-states, ticks and wall-clock seconds\n"
    "  --time-limit S    end the run after S seconds of wall-clock time (exit 5)\n"
    "  --force-state     load states (and replay recordings) made with other ROM images\n"
    "  --record FILE     record the run after start-up, every key and tick at its T-state,\n"
    "                    to FILE (.lbr), written when the actions are done\n"
    "  --gif FILE        write each --replay as an animated GIF (480 x 480, a frame a tick)\n"
    "  --help            this text\n"
    "The speed is Lunabrik.cfg's waitstates, as in the desktop program: 0 as fast as possible,\n"
    "N idle iterations before each instruction, -1 a real ABC80 (at most 60,000 T-states, 3 MHz,\n"
    "per tick; with --realtime that is the real pace).\n"
    "Exit codes: 0 done, 1 wait timed out, 2 bad arguments, a missing file, a data folder that\n"
    "cannot be used or an output that cannot be written (the control output included),\n"
    "3 stalled, 4 a host file could not be written or created (said on standard error), 5 time\n"
    "limit reached, 6 a state could not be saved or loaded.\n";

} // namespace

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
    if (!KeyStrokeForCharacter(name, key)) return false;
    key.shift = key.shift || shift;
    key.control = key.control || ctrl;
    return true;
}

namespace {

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
constexpr NumberOption NumberOptions[] = {
    {"--timeout", 0, MaxTicks}, {"--instructions", 1, 1000000000},   {"--key-ticks", 1, 1000},
    {"--ticks", 0, MaxTicks},   {"--time-limit", 1, 31 * 24 * 3600}, {"--seed", 0, 4294967295L},
};

} // namespace

int ParseArguments(int argc, char** argv, Options& Opts) {
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
        } else if (a == "--force-state") {
            Opts.force_state = true;
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
            Action act{ActionKind::Type, {}, 0, {}};
            std::string error;
            if (TextToCodes(v, std::strlen(v), act.text, TextSource::Script, &error)) {
                std::fprintf(stderr, "lunabrik-headless: --type: %s\n", error.c_str());
                return ExitUsage;
            }
            Opts.actions.push_back(act);
        } else if (a == "--key") {
            if (!value(v)) return Usage("missing key after --key");
            KeyStroke key;
            if (!ParseKey(v, key)) return Usage("unknown key", v);
            Opts.actions.push_back({ActionKind::Key, v, 0, key});
        } else if (a == "--wait-for") {
            if (!value(v)) return Usage("missing text after --wait-for");
            Opts.actions.push_back({ActionKind::WaitFor, v, 0, {}});
        } else if (a == "--control") {
            Opts.control = true;
        } else if (a == "--script") {
            if (!value(v) || !*v) return Usage("missing file name after --script");
            Opts.script = SystemPathFromStart(v);
        } else if (a == "--pbm" || a == "--png" || a == "--save-state" || a == "--load-state" ||
                   a == "--replay" || a == "--record" || a == "--gif") {
            if (!value(v) || !*v) return Usage("missing file name after", a.c_str());
            // Named from where the user started the runner, whichever folder it then works in.
            const std::string path = SystemPathFromStart(v);
            if (a == "--record") {
                Opts.record = path;
                continue;
            }
            if (a == "--gif") {
                Opts.gif = path;
                continue;
            }
            const ActionKind kind = a == "--pbm"          ? ActionKind::Pbm
                                    : a == "--png"        ? ActionKind::Png
                                    : a == "--save-state" ? ActionKind::SaveState
                                    : a == "--replay"     ? ActionKind::Replay
                                                          : ActionKind::LoadState;
            Opts.actions.push_back({kind, path, 0, {}});
        } else {
            return Usage("unknown option", a.c_str());
        }
    }
    bool replay = false;
    for (const Action& act : Opts.actions)
        replay = replay || act.kind == ActionKind::Replay;
    if (replay && Opts.realtime)
        return Usage("--replay runs the recorded ticks itself; leave out --realtime");
    if (!Opts.gif.empty() && !replay) return Usage("--gif writes a --replay; give one");
    return -1;
}
