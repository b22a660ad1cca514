#include "shell/about_dialog.h"

#include "ui_about_dialog.h"

QIcon LunabrikIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QString(":/lunabrik/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

void RunAboutDialog(QWidget* parent) {
    QDialog dialog(parent);
    Ui::AboutDialog ui;
    ui.setupUi(&dialog);
    dialog.setWindowFlags(dialog.windowFlags() & ~Qt::WindowContextHelpButtonHint);
    dialog.layout()->setSizeConstraint(QLayout::SetFixedSize);
    ui.ok->setFocus();
    dialog.exec();
}
