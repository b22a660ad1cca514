#include "shell/config_dialog.h"

#include "shell/decimal_text.h"
#include "shell/preferences.h"
#include "shell/speed_choice.h"
#include "system/files.h"
#include "system/system.h"
#include "ui_config_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>

#include <cstdint>

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

QByteArray WaitstatesText(const QLineEdit* field) { return field->text().left(255).toLatin1(); }

} // namespace

double IdleIterationsPerSecond() { return SystemPacingIterationsPerSecond(); }

QString WaitstatesMeaning(int32_t waitstates, double idle_per_second, int percent) {
    if (waitstates == -1) {
        if (percent == 100) return "-1: a real ABC80's pace (3 MHz)";
        return QString("-1: a real pace, here %1 % of a real ABC80 (kept in Lunabrik's "
                       "preferences)")
            .arg(percent);
    }
    if (waitstates <= 0) return QString("%1: as fast as possible").arg(waitstates);
    const double seconds = SecondsPerInstruction(waitstates, idle_per_second);
    QString pace = seconds >= 1      ? QString("%1 s").arg(seconds, 0, 'f', 1)
                   : seconds >= 1e-3 ? QString("%1 ms").arg(seconds * 1e3, 0, 'f', 1)
                                     : QString("%1 µs").arg(seconds * 1e6, 0, 'f', 2);
    return QString("%1 idle iterations per instruction (about %2 each here)")
        .arg(waitstates)
        .arg(pace);
}

ConfigDialog::ConfigDialog(QWidget* parent)
    : QDialog(parent), ui_(new Ui::ConfigDialog), idle_rate_(IdleIterationsPerSecond()) {
    ui_->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    ui_->waitstates->setText(QString::number(SystemWaitstates()));
    ui_->filesFolder->setText(QString::fromStdString(SystemFilesFolder()));
    shown_folder_ = ui_->filesFolder->text();
    ui_->waitstates->setFocus();

    // The speed choice above the waitstates field, what the field means beside it, the keyboard
    // mode below the folder.
    speed_ = new QComboBox(this);
    speed_->setObjectName("speedChoice");
    // The shares of a real ABC80, as fast as possible, and (only while the field holds them) the
    // file's idle iterations, which are shown but never offered.
    for (int p : SpeedPercents)
        speed_->addItem(SpeedName(p, 0), p);
    speed_->addItem(SpeedName(FastestSpeed, 0), FastestSpeed);
    percent_ = CurrentSpeed() > 0 ? CurrentSpeed() : 100;
    shown_speed_ = CurrentSpeed();
    meaning_ = new QLabel(this);
    meaning_->setObjectName("waitstatesMeaning");
    keyboard_ = new QComboBox(this);
    keyboard_->setObjectName("keyboardMode");
    keyboard_->addItems({"As typed", "Swedish key positions"});
    keyboard_->setCurrentIndex(SavedKeyboardMode() == KeyboardMode::Natural ? 0 : 1);
    auto* grid = static_cast<QGridLayout*>(layout());
    QLayoutItem* buttons = grid->itemAtPosition(2, 0);
    grid->removeItem(buttons);
    grid->removeWidget(ui_->folderLabel);
    grid->removeWidget(ui_->filesFolder);
    grid->removeWidget(ui_->browse);
    grid->addWidget(new QLabel("Speed", this), 0, 0);
    grid->addWidget(speed_, 0, 1, 1, 2);
    grid->addWidget(ui_->waitstatesLabel, 1, 0);
    grid->addWidget(ui_->waitstates, 1, 1);
    grid->addWidget(meaning_, 2, 1, 1, 2);
    grid->addWidget(ui_->folderLabel, 3, 0);
    grid->addWidget(ui_->filesFolder, 3, 1);
    grid->addWidget(ui_->browse, 3, 2);
    grid->addWidget(new QLabel("Keyboard", this), 4, 0);
    grid->addWidget(keyboard_, 4, 1, 1, 2);
    grid->addItem(buttons, 5, 0, 1, 3);
    setTabOrder(speed_, ui_->waitstates);
    setTabOrder(ui_->browse, keyboard_);
    WaitstatesEdited();
    connect(speed_, &QComboBox::activated, this, &ConfigDialog::SpeedChosen);
    connect(ui_->waitstates, &QLineEdit::textEdited, this, &ConfigDialog::WaitstatesEdited);

    connect(ui_->cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->apply, &QPushButton::clicked, this, &ConfigDialog::TakeFields);
    connect(ui_->ok, &QPushButton::clicked, this, &ConfigDialog::Ok);
    connect(ui_->browse, &QPushButton::clicked, this, &ConfigDialog::ChooseFolder);
}

ConfigDialog::~ConfigDialog() = default;

int ConfigDialog::SpeedOfEntry(int index) const { return speed_->itemData(index).toInt(); }

void ConfigDialog::ChooseSpeedEntry(int speed) {
    const int index = speed_->findData(speed);
    if (index < 0) return;
    speed_->setCurrentIndex(index);
    SpeedChosen(index);
}

// The list follows the field: -1 a real pace at the share chosen, 0 and other negatives as fast as
// possible, above 0 the idle iterations (an entry of their own while the field holds them).
void ConfigDialog::WaitstatesEdited() {
    const int32_t n = DecimalTextToInt(WaitstatesText(ui_->waitstates).constData());
    const int idle = speed_->findData(IdleIterationsSpeed);
    if (n > 0) {
        if (idle < 0)
            speed_->addItem(SpeedName(IdleIterationsSpeed, n), IdleIterationsSpeed);
        else
            speed_->setItemText(idle, SpeedName(IdleIterationsSpeed, n));
    } else if (idle >= 0) {
        speed_->removeItem(idle);
    }
    int shown = n == -1 ? percent_ : n <= 0 ? FastestSpeed : IdleIterationsSpeed;
    int index = speed_->findData(shown);
    if (index < 0) { // a share the list does not offer (a preference written by hand)
        speed_->addItem(SpeedName(shown, 0), shown);
        index = speed_->findData(shown);
    }
    speed_->setCurrentIndex(index);
    meaning_->setText(WaitstatesMeaning(n, idle_rate_, percent_));
}

void ConfigDialog::SpeedChosen(int index) {
    const int speed = SpeedOfEntry(index);
    if (speed == FastestSpeed) ui_->waitstates->setText("0");
    if (speed > 0) {
        percent_ = speed;
        ui_->waitstates->setText("-1");
    }
    WaitstatesEdited();
}

bool ConfigDialog::TakeFields() {
    const int32_t waitstates = DecimalTextToInt(WaitstatesText(ui_->waitstates).constData());
    const double seconds = SecondsPerInstruction(waitstates, idle_rate_);
    if (seconds > 1 && waitstates != SystemWaitstates()) {
        QMessageBox ask(QMessageBox::Question, "Lunabrik Config",
                        QString("With %1 idle iterations each instruction takes about %2 "
                                "seconds on this computer: the machine will hardly move.\n\n"
                                "Use this speed?")
                            .arg(waitstates)
                            .arg(seconds, 0, 'f', 1),
                        QMessageBox::Yes | QMessageBox::No, this);
        ask.setObjectName("slowSpeedQuestion");
        ask.setDefaultButton(QMessageBox::No);
        if (ask.exec() != QMessageBox::Yes) return false;
    }
    // A speed chosen here holds from now on, over a pace the command line named.
    const int speed = waitstates == -1  ? percent_
                      : waitstates <= 0 ? FastestSpeed
                                        : IdleIterationsSpeed;
    if (speed != shown_speed_ || waitstates != SystemWaitstates()) {
        if (speed != IdleIterationsSpeed)
            ChooseSpeed(speed);
        else
            SystemSetRunPace(false);
        shown_speed_ = speed;
    }
    SystemSetWaitstates(waitstates);
    SaveKeyboardMode(keyboard_->currentIndex() == 0 ? KeyboardMode::Natural
                                                    : KeyboardMode::Positional);
    // The field shows the folder as UTF-8; a folder whose bytes are not UTF-8 would come back
    // changed, so only an edited field is taken.
    if (ui_->filesFolder->text() != shown_folder_) {
        SystemSetFilesFolder(
            Utf8Prefix(ui_->filesFolder->text(), int(SystemFilesFolderLimit)).toStdString());
        shown_folder_ = ui_->filesFolder->text();
    }
    return true;
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
    if (!TakeFields()) return;
    if (const OutputResult saved = SystemSaveSettings(); !saved.ok) {
        const std::string& refusal = saved.refusal;
        QMessageBox::warning(this, "Lunabrik Config",
                             QString("The settings could not be saved to %1 in %2%3.\n"
                                     "They stay in force until Lunabrik ends.")
                                 .arg(SystemSettingsName, QDir::currentPath(),
                                      refusal.empty() ? QString()
                                                      : QString(" (it is %1, not a plain file)")
                                                            .arg(QString::fromStdString(refusal))));
    }
    accept();
}

void RunConfigDialog(QWidget* parent) {
    ConfigDialog dialog(parent);
    dialog.exec();
}
