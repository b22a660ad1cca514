#include "shell/command_line.h"

#include "system/startup.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const Usage =
    "usage: lunabrik [options] [PROGRAM.BAS]\n"
    "An ABC80 emulator. It reads basic.rom, dev_dos.rom, font.bin and Lunabrik.cfg from its\n"
    "folder: the working directory when it holds basic.rom, else the per-user folder\n"
    "$XDG_DATA_HOME/lunabrik (~/.local/share/lunabrik), created on first start with the\n"
    "installed free images and a Files/ folder. PROGRAM.BAS, a text file, is typed in once the\n"
    "machine waits for input.\n"
    "  --dir FOLDER work in FOLDER (created and given the free images it lacks)\n"
    "  --fullscreen start in full screen (F11 or the right-click menu leaves it)\n"
    "  --run        type RUN after PROGRAM.BAS\n"
    "  --speed real|max|P%|N\n"
    "               the pace for this run only, whatever Lunabrik.cfg and the Speed menu say:\n"
    "               a real ABC80, as fast as possible, P percent of a real ABC80 (1 to 1000),\n"
    "               or N idle iterations per instruction (0 to 100000000)\n"
    "  --help       this text\n"
    "  --version    the version\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n";

// Qt's options that take a value, which QApplication reads and removes itself.
const char* const QtValueOptions[] = {"-platform",        "-platformpluginpath",
                                      "-platformtheme",   "-plugin",
                                      "-qwindowgeometry", "-qwindowicon",
                                      "-qwindowtitle",    "-style",
                                      "-stylesheet",      "-session",
                                      "-display",         "-name",
                                      "-title",           "-geometry"};
const char* const QtFlagOptions[] = {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"};

bool Among(const char* arg, const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (std::strcmp(arg, list[i]) == 0) return true;
    return false;
}

// real, max, a share of a real ABC80 ("200%": a real pace at that share), or a whole number of
// idle iterations in range, as waitstates.
bool ParseSpeed(const char* text, int32_t& speed, int& percent) {
    percent = 100;
    if (std::strcmp(text, "real") == 0) {
        speed = -1;
        return true;
    }
    const size_t length = std::strlen(text);
    if (length >= 2 && length <= 5 && text[length - 1] == '%') {
        int n = 0;
        for (size_t i = 0; i + 1 < length; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            n = n * 10 + (text[i] - '0');
        }
        if (n < 1 || n > MaxSpeedPercent) return false;
        speed = -1;
        percent = n;
        return true;
    }
    if (std::strcmp(text, "max") == 0) {
        speed = 0;
        return true;
    }
    if (!*text || std::strlen(text) > 9) return false;
    long n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        n = n * 10 + (*p - '0');
    }
    if (n > MaxSpeedIterations) return false;
    speed = int32_t(n);
    return true;
}

int Refuse(const char* what, const char* arg) {
    std::fprintf(stderr, "lunabrik: %s: %s\n%s", what, arg, Usage);
    return 2;
}

} // namespace

const char* UsageText() { return Usage; }

int ParseCommandLine(int argc, char** argv, CommandLine& line) {
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!options_end && a[0] == '-' && a[1] != '\0') {
            if (std::strcmp(a, "--") == 0) {
                options_end = true;
            } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
                std::fputs(Usage, stdout);
                return std::fflush(stdout) == 0 ? 0 : 2;
            } else if (std::strcmp(a, "--version") == 0) {
                std::printf("lunabrik %s\n", LUNABRIK_VERSION);
                return std::fflush(stdout) == 0 ? 0 : 2;
            } else if (std::strcmp(a, "--dir") == 0) {
                if (++i >= argc || !*argv[i]) return Refuse("missing folder after", a);
                line.dir = argv[i];
            } else if (std::strcmp(a, "--fullscreen") == 0) {
                line.full_screen = true;
            } else if (std::strcmp(a, "--run") == 0) {
                line.run = true;
            } else if (std::strcmp(a, "--speed") == 0) {
                if (++i >= argc) return Refuse("missing value after", a);
                if (!ParseSpeed(argv[i], line.speed, line.speed_percent))
                    return Refuse("--speed takes real, max, 1% to 1000% or 0 to 100000000, not",
                                  argv[i]);
                line.speed_given = true;
            } else if (Among(a, QtValueOptions, std::size(QtValueOptions))) {
                if (++i >= argc) return Refuse("missing value after", a);
            } else if (!Among(a, QtFlagOptions, std::size(QtFlagOptions))) {
                return Refuse("unknown option", a);
            }
            continue;
        }
        if (!line.program_file.empty()) return Refuse("more than one program file", a);
        // Named from where the program was started, before it moves into its folder.
        line.program_file = SystemPathFromStart(a);
    }
    if (line.run && line.program_file.empty()) return Refuse("--run needs a program file", "--run");
    return -1;
}
