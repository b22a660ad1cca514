#include "shell/command_line.h"
#include "shell/program.h"
#include "system/startup.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) makes a write fail with EFBIG instead of killing the program
    // with the machine in it: saves then fail the ordinary way and say so.
    std::signal(SIGXFSZ, SIG_IGN);
    CommandLine line;
    if (int code = ParseCommandLine(argc, argv, line); code >= 0) return code;
    // The machine starts before Qt does: without a display Qt would abort before any message, so
    // what start-up says reaches standard error first, and a box too where a user sees one.
    StartupReport startup;
    SystemStartUp(WindowStartup(&line), startup);
    if (!SayStartup(startup)) {
        if (DisplayAvailable(argc, argv)) {
            QApplication app(argc, argv);
            ShowStartupStop(startup);
        }
        return StartupExitCode(startup);
    }
    if (!DisplayAvailable(argc, argv)) {
        std::fprintf(stderr, "Lunabrik: no display (neither DISPLAY nor WAYLAND_DISPLAY is "
                             "set); lunabrik-headless runs without one\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lunabrik");
    return RunLunabrik(&line, &startup);
}
