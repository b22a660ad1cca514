#include "machine/startup.h"
#include "shell/program.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    // Without a display Qt would abort before any message: check the ROM images first, so the
    // message naming a missing one still reaches standard error, then say what is missing.
    if (!DisplayAvailable(argc, argv)) {
        StartupReport report;
        if (StartCore(report))
            std::fprintf(stderr, "Lunabrik: no display (neither DISPLAY nor WAYLAND_DISPLAY is "
                                 "set); lunabrik-headless runs without one\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lunabrik");
    return RunLunabrik();
}
