#include "shell/command_line.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const Usage =
    "usage: lunabrik [options] [PROGRAM.BAS]\n"
    "An ABC80 emulator. It reads basic.rom, dev_dos.rom, font.bin and Lunabrik.cfg from the\n"
    "working folder. PROGRAM.BAS, a text file, is typed in once the machine waits for input.\n"
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
            } else if (Among(a, QtValueOptions, std::size(QtValueOptions))) {
                if (++i >= argc) return Refuse("missing value after", a);
            } else if (!Among(a, QtFlagOptions, std::size(QtFlagOptions))) {
                return Refuse("unknown option", a);
            }
            continue;
        }
        if (!line.program_file.empty()) return Refuse("more than one program file", a);
        line.program_file = a;
    }
    return -1;
}
