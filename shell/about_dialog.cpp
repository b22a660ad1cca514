#include "shell/about_dialog.h"

#include "system/files.h"
#include "ui_about_dialog.h"

#include <QDir>
#include <QSettings>

QIcon LunabrikIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QString(":/lunabrik/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

QString AboutText() {
    const QString folder = QDir::currentPath();
    const QString preferences = QSettings("Lunabrik", "Lunabrik").fileName();
    return QString("Lunabrik\nan ABC80 emulator\n\nVersion %1\n\n"
                   "Written by the Lunabrik developers\nMIT licence\n\n"
                   "ROM images (basic.rom, dev_dos.rom) and font.bin are read from\n%2\n"
                   "Settings: %3 in that folder\n"
                   "Window and keyboard preferences: %4\n\n"
                   "Shortcuts\n"
                   "Ctrl+Shift+V or Shift+Insert: paste    Ctrl+Shift+C: copy the screen\n"
                   "Esc: cancel typing    F3: type in a file    F12: save a screenshot\n"
                   "Alt+1 to Alt+4: scale    Alt+0: fit to window    F11: full screen\n"
                   "F2: Config    F1: About    Alt+F4: quit")
        .arg(LUNABRIK_VERSION, folder, SystemSettingsName, preferences);
}

void RunAboutDialog(QWidget* parent) {
    QDialog dialog(parent);
    Ui::AboutDialog ui;
    ui.setupUi(&dialog);
    dialog.setWindowFlags(dialog.windowFlags() & ~Qt::WindowContextHelpButtonHint);
    dialog.layout()->setSizeConstraint(QLayout::SetFixedSize);
    ui.text->setText(AboutText());
    ui.text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui.ok->setFocus();
    dialog.exec();
}
