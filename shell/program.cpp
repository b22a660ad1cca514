#include "shell/program.h"

#include "host/settings.h"
#include "system/system.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/speed_choice.h"
#include "shell/state_controller.h"
#include "shell/typing_controller.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

constexpr int MissingRomExitCode = 1;

std::vector<std::string> LookedIn; // the folders the start looked in, for the missing-ROM message

// Platforms with no screen a user could see a message box on.
bool PlatformIsHeadless() {
    const QString name = QGuiApplication::platformName();
    return name == "offscreen" || name == "minimal";
}

} // namespace

void SetFoldersLookedIn(const std::vector<std::string>& folders) { LookedIn = folders; }

bool StartCore(BootReport& report) {
    BootOptions options;
    options.create_default_files_folder = true;
    if (!SystemBoot(options, report)) {
        std::fprintf(stderr, "Lunabrik: %s\n",
                     MissingImageMessage(report.missing_rom, LookedIn).c_str());
        return false;
    }
    for (const std::string& note : BootNotes(report))
        std::fprintf(stderr, "Lunabrik: %s\n", note.c_str());
    return true;
}

bool DisplayAvailable(int argc, char** argv) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; i++)
        if (std::strcmp(argv[i], "-platform") == 0) platform = argv[i + 1];
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 &&
        std::strncmp(platform, "wayland", 7) != 0)
        return true; // offscreen, vnc, eglfs...: Qt needs no X or Wayland server for them
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

QString StartupNotice(const BootReport& report) {
    QStringList parts;
    for (const std::string& note : BootNotes(report))
        parts << QString::fromStdString(note);
    return parts.join(" ");
}

std::unique_ptr<MainWindow> StartLunabrik(const CommandLine* line) {
    BootReport report;
    if (!StartCore(report)) {
        if (!PlatformIsHeadless()) {
            QMessageBox box(
                QMessageBox::Critical, "Lunabrik",
                QString::fromStdString(MissingImageMessage(report.missing_rom, LookedIn)));
            box.setObjectName("missingRom");
            box.exec();
        }
        return nullptr;
    }
    // A waitstates that all but stops the machine is said at once, not left to a black screen.
    const QString slow = QString::fromStdString(SlowWaitstatesNotice(
        Waitstates(), SystemPacingIterationsPerSecond(),
        QDir::current().filePath(SettingsFileName).toStdString(), "set a speed in Config > Speed"));
    QString notice = StartupNotice(report);
    if (!slow.isEmpty()) {
        std::fprintf(stderr, "Lunabrik: %s\n", slow.toLocal8Bit().constData());
        notice = notice.isEmpty() ? slow : notice + "; " + slow;
    }
    PrepareNewPreferences(); // before any preference is read or written
    auto window = std::make_unique<MainWindow>(report.font_loaded, notice);
    window->RestoreWindowState();
    if (line && line->full_screen)
        window->setWindowState(window->windowState() | Qt::WindowFullScreen);
    // The command line's pace holds for this run only; Config changes Lunabrik.cfg as ever.
    // The preferences say how fast a real pace runs, unless --speed says it for this run.
    if (line && line->speed_given)
        SystemSetPacePercent(line->speed_percent);
    else
        ApplySavedSpeed();
    SystemSetRunPace(line && line->speed_given, line ? line->speed : 0);
    window->show();
    if (!slow.isEmpty()) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, "Lunabrik", slow, QMessageBox::Ok, window.get());
        box->setObjectName("slowSpeedNotice");
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    window->StartProcessor();
    window->States()->ResumeIfWanted();
    if (line && !line->program_file.empty())
        window->Typist()->TypeFileWhenReady(QString::fromLocal8Bit(line->program_file.c_str()),
                                            line->run);
    return window;
}

int RunLunabrik(const CommandLine* line) {
    std::unique_ptr<MainWindow> window = StartLunabrik(line);
    if (!window) return MissingRomExitCode;
    return QApplication::exec();
}
