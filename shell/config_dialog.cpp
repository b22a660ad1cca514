#include "shell/config_dialog.h"

#include "machine/settings.h"
#include "shell/decimal_text.h"
#include "ui_config_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// The longest prefix of text that fits in max bytes of UTF-8 without splitting a character.
QByteArray Utf8Prefix(const QString& text, int max) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= max) return bytes;
    int end = max;
    while (end > 0 && (uint8_t(bytes[end]) & 0xC0) == 0x80)
        --end; // continuation bytes
    return bytes.left(end);
}

} // namespace

ConfigDialog::ConfigDialog(QWidget* parent) : QDialog(parent), ui_(new Ui::ConfigDialog) {
    ui_->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    ui_->waitstates->setText(QString::number(Waitstates()));
    ui_->filesFolder->setText(QString::fromUtf8(folder));
    ui_->waitstates->setFocus();

    connect(ui_->cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->apply, &QPushButton::clicked, this, &ConfigDialog::TakeFields);
    connect(ui_->ok, &QPushButton::clicked, this, &ConfigDialog::Ok);
    connect(ui_->browse, &QPushButton::clicked, this, &ConfigDialog::ChooseFolder);
}

ConfigDialog::~ConfigDialog() = default;

void ConfigDialog::TakeFields() {
    QByteArray waitstates = ui_->waitstates->text().left(255).toLatin1();
    SetWaitstates(DecimalTextToInt(waitstates.constData()));
    QByteArray folder = Utf8Prefix(ui_->filesFolder->text(), FilesFolderSize - 1);
    SetFilesFolder(folder.constData());
}

// The folder is a prefix of the host file names, so a chosen directory gets its trailing "/".
// The choice goes into the field only; Apply or OK puts it in force.
void ConfigDialog::ChooseFolder() {
    QFileDialog chooser(this, "Files folder");
    chooser.setObjectName("folderChooser");
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    QString current = ui_->filesFolder->text();
    chooser.setDirectory(QDir(current.isEmpty() ? QDir::currentPath() : current).absolutePath());
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    QString folder = QDir::cleanPath(chooser.selectedFiles().first());
    if (!folder.endsWith('/')) folder += '/';
    ui_->filesFolder->setText(folder);
}

// The values are in force whether or not the file could be written.
void ConfigDialog::Ok() {
    TakeFields();
    if (!WriteSettings()) {
        QMessageBox::warning(this, "Lunabrik Config",
                             QString("The settings could not be saved to %1 in %2.\n"
                                     "They stay in force until Lunabrik ends.")
                                 .arg(SettingsFileName, QDir::currentPath()));
    }
    accept();
}

void RunConfigDialog(QWidget* parent) {
    ConfigDialog dialog(parent);
    dialog.exec();
}
