#include "host/data_folder.h"
#include "system/system.h"
#include "shell/command_line.h"
#include "shell/program.h"

#include <QApplication>
#include <QMessageBox>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) makes a write fail with EFBIG instead of killing the program
    // with the machine in it: saves then fail the ordinary way and say so.
    std::signal(SIGXFSZ, SIG_IGN);
    CommandLine line;
    if (int code = ParseCommandLine(argc, argv, line); code >= 0) return code;
    DataFolderReport folder;
    if (!EnterDataFolder(line.dir.empty() ? nullptr : line.dir.c_str(), folder)) {
        std::fprintf(stderr, "Lunabrik: %s\n", folder.error.c_str());
        if (DisplayAvailable(argc, argv)) { // said where a user sees it, too
            QApplication app(argc, argv);
            const QString platform = QGuiApplication::platformName();
            if (platform != "offscreen" && platform != "minimal")
                QMessageBox::critical(nullptr, "Lunabrik",
                                      QString::fromLocal8Bit(folder.error.c_str()));
        }
        return DataFolderRefused;
    }
    SetFoldersLookedIn(folder.looked_in);
    // Without a display Qt would abort before any message: check the ROM images first, so the
    // message naming a missing one still reaches standard error, then say what is missing.
    if (!DisplayAvailable(argc, argv)) {
        BootReport report;
        if (StartCore(report))
            std::fprintf(stderr, "Lunabrik: no display (neither DISPLAY nor WAYLAND_DISPLAY is "
                                 "set); lunabrik-headless runs without one\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lunabrik");
    return RunLunabrik(&line);
}
