#include "shell/program.h"

#include "shell/command_line.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/speed_choice.h"
#include "shell/state_controller.h"
#include "shell/typing_controller.h"
#include "system/system.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int MissingRomExitCode = 1;

} // namespace

bool PlatformIsHeadless() {
    const QString name = QGuiApplication::platformName();
    return name == "offscreen" || name == "minimal";
}

StartupOptions WindowStartup(const CommandLine* line) {
    StartupOptions options;
    options.choose_folder = line != nullptr;
    if (line && !line->dir.empty()) options.folder = line->dir.c_str();
    options.create_files_folder = true;
    options.how_to_set_speed = "set a speed in Config > Speed";
    return options;
}

bool SayStartup(const StartupReport& report) {
    for (const StartupMessage& m : report.messages)
        std::fprintf(stderr, "Lunabrik: %s\n", m.text.c_str());
    return report.started;
}

void ShowStartupStop(const StartupReport& report) {
    const StartupMessage* stop = report.Stopped();
    if (!stop || PlatformIsHeadless()) return;
    QMessageBox box(QMessageBox::Critical, "Lunabrik", QString::fromLocal8Bit(stop->text.c_str()));
    box.setObjectName(stop->event == StartupEvent::ImageMissing ? "missingRom" : "folderRefused");
    box.exec();
}

int StartupExitCode(const StartupReport& report) {
    const StartupMessage* stop = report.Stopped();
    if (!stop) return 0;
    return stop->event == StartupEvent::FolderRefused ? SystemFolderRefusedExit
                                                      : MissingRomExitCode;
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

QString StartupNotice(const StartupReport& report) {
    const QString notes = QString::fromStdString(report.Texts(StartupPolicy::Note, " "));
    const QString warning = QString::fromStdString(report.Texts(StartupPolicy::Warn, "; "));
    if (warning.isEmpty()) return notes;
    return notes.isEmpty() ? warning : notes + "; " + warning;
}

std::unique_ptr<MainWindow> StartLunabrik(const CommandLine* line, const StartupReport* started) {
    StartupReport own;
    if (!started) {
        SystemStartUp(WindowStartup(nullptr), own);
        SayStartup(own);
        started = &own;
    }
    if (!started->started) {
        ShowStartupStop(*started);
        return nullptr;
    }
    // A waitstates that all but stops the machine is said at once, not left to a black screen.
    const QString slow = QString::fromStdString(started->Texts(StartupPolicy::Warn, "; "));
    const QString notice = StartupNotice(*started);
    PrepareNewPreferences(); // before any preference is read or written
    auto window = std::make_unique<MainWindow>(started->font_loaded, notice);
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

int RunLunabrik(const CommandLine* line, const StartupReport* started) {
    StartupReport own;
    if (!started) {
        SystemStartUp(WindowStartup(nullptr), own);
        SayStartup(own);
        started = &own;
    }
    std::unique_ptr<MainWindow> window = StartLunabrik(line, started);
    if (!window) return StartupExitCode(*started);
    return QApplication::exec();
}
