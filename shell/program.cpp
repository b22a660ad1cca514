#include "shell/program.h"

#include "host/settings.h"
#include "system/startup.h"
#include "shell/command_line.h"
#include "shell/main_window.h"

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

// Where to put the images, after the folders looked in.
std::string SupplyHint() {
    std::string text = "Looked in:";
    for (const auto& f : LookedIn)
        text += "\n  " + f;
    return text + "\nPut basic.rom, dev_dos.rom and font.bin (the free images are installed in "
                  "share/lunabrik) into one of these folders, or name one with --dir FOLDER.";
}

QString MissingRomText(const char* file) {
    return QString("Cannot open the ROM image %1 in the folder\n%2\n\n%3")
        .arg(QString::fromLocal8Bit(file), QDir::currentPath(),
             QString::fromStdString(SupplyHint()));
}

// Platforms with no screen a user could see a message box on.
bool PlatformIsHeadless() {
    const QString name = QGuiApplication::platformName();
    return name == "offscreen" || name == "minimal";
}

} // namespace

void SetFoldersLookedIn(const std::vector<std::string>& folders) { LookedIn = folders; }

bool StartCore(StartupReport& report) {
    StartupOptions options;
    options.create_default_files_folder = true;
    const bool ok = StartMachine(options, report);
    if (!ok) {
        char folder[4096];
        if (!getcwd(folder, sizeof folder)) std::strcpy(folder, ".");
        std::fprintf(stderr, "Lunabrik: cannot open the ROM image %s in %s\n%s\n",
                     report.missing_rom, folder, SupplyHint().c_str());
        return false;
    }
    if (report.files_folder_created)
        std::fprintf(stderr, "Lunabrik: created the files folder Files/ in the working folder\n");
    if (report.files_folder_error)
        std::fprintf(stderr, "Lunabrik: cannot create the files folder Files/: %s\n",
                     std::strerror(report.files_folder_error));
    if (!report.font_loaded)
        std::fprintf(stderr,
                     "Lunabrik: cannot open the character generator font.bin in %s; the "
                     "display stays black\n",
                     QDir::currentPath().toLocal8Bit().constData());
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

QString StartupNotice(const StartupReport& report) {
    QStringList parts;
    if (!report.font_loaded)
        parts << QString("font.bin is missing in %1: the display stays black")
                     .arg(QDir::currentPath());
    if (report.files_folder_created) parts << "Created the files folder Files/";
    if (report.files_folder_error)
        parts << QString("Cannot create the files folder Files/: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(report.files_folder_error)));
    return parts.join("; ");
}

std::unique_ptr<MainWindow> StartLunabrik(const CommandLine* line) {
    StartupReport report;
    if (!StartCore(report)) {
        if (!PlatformIsHeadless()) {
            QMessageBox box(QMessageBox::Critical, "Lunabrik", MissingRomText(report.missing_rom));
            box.setObjectName("missingRom");
            box.exec();
        }
        return nullptr;
    }
    // A waitstates that all but stops the machine is said at once, not left to a black screen.
    const QString slow = QString::fromStdString(SlowWaitstatesNotice(
        Waitstates(), PacingIterationsPerSecond(),
        QDir::current().filePath(SettingsFileName).toStdString(), "set a speed in Config > Speed"));
    QString notice = StartupNotice(report);
    if (!slow.isEmpty()) {
        std::fprintf(stderr, "Lunabrik: %s\n", slow.toLocal8Bit().constData());
        notice = notice.isEmpty() ? slow : notice + "; " + slow;
    }
    auto window = std::make_unique<MainWindow>(report.font_loaded, notice);
    window->RestoreWindowState();
    window->show();
    if (!slow.isEmpty()) {
        auto* box =
            new QMessageBox(QMessageBox::Warning, "Lunabrik", slow, QMessageBox::Ok, window.get());
        box->setObjectName("slowSpeedNotice");
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    window->StartProcessor();
    if (line && !line->program_file.empty())
        window->TypeFileWhenReady(QString::fromLocal8Bit(line->program_file.c_str()));
    return window;
}

int RunLunabrik(const CommandLine* line) {
    std::unique_ptr<MainWindow> window = StartLunabrik(line);
    if (!window) return MissingRomExitCode;
    return QApplication::exec();
}
