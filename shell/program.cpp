#include "shell/program.h"

#include "cpu/processor.h"
#include "machine/memory.h"
#include "machine/settings.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>

namespace {

constexpr int MissingRomExitCode = 1;

void ReportMissingRom(const char* file) {
    QString folder = QDir::currentPath();
    std::fprintf(stderr, "Lunabrik: cannot open the ROM image %s in %s\n", file,
                 folder.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Critical, "Lunabrik",
                    QString("Cannot open the ROM image %1 in the folder\n%2\n\n"
                            "Lunabrik needs basic.rom and dev_dos.rom in its working folder.")
                        .arg(QString::fromLocal8Bit(file), folder));
    box.setObjectName("missingRom");
    box.exec();
}

} // namespace

std::unique_ptr<MainWindow> StartLunabrik() {
    ReadSettings();
    const char* missing = nullptr;
    if (!LoadAddressSpace(&missing)) {
        ReportMissingRom(missing ? missing : "basic.rom");
        return nullptr;
    }
    auto window = std::make_unique<MainWindow>();
    window->show();
    ProcessorReset();
    window->StartProcessor();
    return window;
}

int RunLunabrik() {
    std::unique_ptr<MainWindow> window = StartLunabrik();
    if (!window) return MissingRomExitCode;
    return QApplication::exec();
}
