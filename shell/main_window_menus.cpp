// The main window's menus and the actions behind them that are not typing.
#include "shell/main_window.h"

#include "display/display.h"
#include "host/file_io.h"
#include "shell/debugger_window.h"
#include "shell/display_widget.h"
#include "shell/help_texts.h"
#include "host/settings.h"
#include "shell/preferences.h"
#include "system/rewind.h"
#include "system/system.h"

#include <cerrno>
#include <cstring>

#include <QActionGroup>
#include <QBuffer>
#include <QDesktopServices>
#include <QSettings>
#include <QUrl>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

namespace {

QString KeyboardModeText(KeyboardMode mode, bool short_form) {
    if (short_form) return mode == KeyboardMode::Natural ? "As typed" : "Swedish keys";
    return mode == KeyboardMode::Natural ? "Keyboard: as typed" : "Keyboard: Swedish positions";
}

} // namespace

// Shortcuts use only keys the emulated keyboard has no code for (F-keys, Insert, Esc, Alt
// combinations), and Ctrl+Shift+C/V, which give the same codes as Ctrl+C/V there. The state
// entries of File and Machine are built in main_window_states.cpp.
QAction* MainWindow::AddMenuAction(QMenu* menu, const char* name, const QString& text,
                                   QList<QKeySequence> keys, std::function<void()> slot) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action); // shortcuts work while the menu bar is hidden (full screen)
    connect(action, &QAction::triggered, this, std::move(slot));
    return action;
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    AddMenuAction(file, "typeFile", "&Type in program...", {QKeySequence(Qt::Key_F3)},
                  [this] { ChooseFileToType(); });
    recent_menu_ = file->addMenu("&Recent programs");
    recent_menu_->setObjectName("recentPrograms");
    connect(recent_menu_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
    AddMenuAction(file, "openFilesFolder", "&Open files folder", {}, [this] { OpenFilesFolder(); });
    AddMenuAction(file, "saveScreenshot", "&Save screenshot", {QKeySequence(Qt::Key_F12)},
                  [this] { SaveScreenshot(); });
    AddMenuAction(file, "saveScreenshotAs", "Save screenshot &as...", {},
                  [this] { SaveScreenshotAs(); });
    file->addSeparator();
    BuildStateMenus(file);
    AddMenuAction(file, "quit", "&Quit", {QKeySequence(Qt::ALT | Qt::Key_F4)}, [this] { close(); });

    QMenu* edit = menuBar()->addMenu("&Edit");
    AddMenuAction(edit, "copyScreen", "&Copy screen",
                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)}, [this] { CopyScreen(); });
    AddMenuAction(
        edit, "paste", "&Paste",
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
        [this] { Paste(); });
    QAction* cancel = AddMenuAction(edit, "cancelTyping", "Cancel &typing",
                                    {QKeySequence(Qt::Key_Escape)}, [this] { CancelTyping(); });
    cancel->setEnabled(false);

    QMenu* view = menuBar()->addMenu("&View");
    auto* scales = new QActionGroup(this);
    for (int s = 1; s <= MaxScale; ++s) {
        QAction* a = AddMenuAction(
            view, QString("scale%1").arg(s).toLatin1().constData(), QString("&%1x").arg(s),
            {QKeySequence(Qt::ALT | (Qt::Key_0 + s))}, [this, s] { SetScale(s); });
        a->setCheckable(true);
        scales->addAction(a);
    }
    QAction* fit = AddMenuAction(view, "scaleFit", "&Fit to window",
                                 {QKeySequence(Qt::ALT | Qt::Key_0)}, [this] { SetScale(0); });
    fit->setCheckable(true);
    scales->addAction(fit);
    view->addSeparator();
    // 4:3 at whole scales per axis (4k across, 3k down): at least 960 x 720, growing with the
    // window; the scale chosen before comes back with square pixels.
    QAction* television = AddMenuAction(view, "television", "4:3 like a &television", {}, [this] {
        const bool on = Action("television")->isChecked();
        display_->SetTelevisionAspect(on);
        if (on && !isFullScreen()) {
            display_->SetMaxFactor(0);
            if (isMaximized()) showNormal();
            resize(size() + display_->SizeForFactor(1) - display_->size());
        } else {
            SetScale(scale_);
        }
    });
    television->setCheckable(true);
    view->addSeparator();
    QAction* full = AddMenuAction(view, "fullScreen", "F&ull screen", {QKeySequence(Qt::Key_F11)},
                                  [this] { SetFullScreen(!isFullScreen()); });
    full->setCheckable(true);

    QMenu* machine = menuBar()->addMenu("&Machine");
    AddMenuAction(machine, "reset", "&Reset", {}, [this] { reset_->click(); });
    AddMenuAction(machine, "powerCycle", "Power &off and on", {}, [this] { PowerCycle(); });
    QAction* pause =
        AddMenuAction(machine, "pause", "&Pause", {QKeySequence(Qt::Key_Pause)}, [this] {
            SystemPause(!SystemPaused());
            Action("pause")->setChecked(SystemPaused());
            UpdateStatus();
        });
    pause->setCheckable(true);
    // One second back per press, paused there; held, the key repeats.
    AddMenuAction(machine, "rewind", "Re&wind one second (hold F4; host files are not rewound)",
                  {QKeySequence(Qt::Key_F4)}, [this] { Rewind(); });
    // Turbo: the menu's toggle, or the turbo key (F9) held on the screen.
    QAction* turbo = AddMenuAction(machine, "turbo", "&Turbo (as fast as possible, or hold F9)",
                                   {QKeySequence(Qt::CTRL | Qt::Key_F9)}, [this] { ApplyTurbo(); });
    turbo->setCheckable(true);
    AddMenuAction(machine, "debugger", "&Debugger...", {QKeySequence(Qt::CTRL | Qt::Key_F7)},
                  [this] { ShowDebugger(); });
    AddMenuAction(machine, "config", "&Config...", {QKeySequence(Qt::Key_F2)},
                  [this] { config_->click(); });
    QAction* natural = AddMenuAction(machine, "naturalKeyboard", "&Keyboard as typed", {}, [this] {
        SaveKeyboardMode(Action("naturalKeyboard")->isChecked() ? KeyboardMode::Natural
                                                                : KeyboardMode::Positional);
        display_->SetKeyboardMode(SavedKeyboardMode());
        ShowKeyboardMode();
    });
    natural->setCheckable(true);

    QMenu* help = menuBar()->addMenu("&Help");
    AddMenuAction(help, "keyboardHelp", "&Keyboard", {},
                  [this] { ShowHelp(this, "Lunabrik: the keyboard", KeyboardHelpText()); });
    AddMenuAction(help, "basicHelp", "The free &BASIC", {}, [this] {
        const QString text = BasicHelpText();
        ShowHelp(this, "Lunabrik: the free BASIC",
                 text.isEmpty() ? QString("The BASIC's description is missing.") : text);
    });
    help->addSeparator();
    AddMenuAction(help, "about", "&About Lunabrik", {QKeySequence(Qt::Key_F1)},
                  [this] { about_->click(); });

    // Menus return the keyboard to the screen when they close, however they close.
    for (QMenu* menu : {file, edit, view, machine, help})
        connect(menu, &QMenu::aboutToHide, this, [this] { ReturnFocus(); });
}

// As switching a real ABC80 off and on: the images loaded and memory filled afresh.
void MainWindow::PowerCycle() {
    CancelTyping();
    const char* missing = nullptr;
    RewindClear(); // the machine before is gone
    const bool loaded = SystemPowerCycle(&missing);
    Action("pause")->setChecked(false);
    speed_meter_.Clear();
    if (loaded)
        ShowMessage(notice_label_, "Switched off and on: the ROM images loaded afresh");
    else
        ShowMessage(notice_label_, QString("Switched off and on, but %1 could not be loaded")
                                       .arg(missing ? missing : "a ROM image"));
}

void MainWindow::ShowDebugger() {
    if (!debugger_) debugger_ = new DebuggerWindow(this);
    debugger_->show();
    debugger_->raise();
    debugger_->activateWindow();
}

void MainWindow::ApplyTurbo() {
    const bool on = turbo_held_ || Action("turbo")->isChecked();
    if (on == SystemTurbo()) return;
    SystemSetTurbo(on);
    speed_meter_.Clear(); // the figure is for the new pace alone
    UpdateStatus();
}

// The files typed in lately, newest first, kept with the window's preferences.
namespace {
constexpr int RecentLimit = 8;
constexpr const char* RecentKey = "recentPrograms";
} // namespace

QStringList MainWindow::RecentPrograms() {
    return QSettings("Lunabrik", "Lunabrik").value(RecentKey).toStringList();
}

void MainWindow::RememberProgram(const QString& path) {
    QStringList recent = RecentPrograms();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    while (recent.size() > RecentLimit)
        recent.removeLast();
    QSettings("Lunabrik", "Lunabrik").setValue(RecentKey, recent);
}

void MainWindow::FillRecentMenu() {
    recent_menu_->clear();
    const QStringList recent = RecentPrograms();
    for (const QString& path : recent)
        recent_menu_->addAction(QFileInfo(path).fileName(), this, [this, path] { TypeFile(path); })
            ->setToolTip(path);
    if (recent.isEmpty()) recent_menu_->addAction("(none yet)")->setEnabled(false);
}

// The files folder of the settings, as the desktop's file manager shows folders.
void MainWindow::OpenFilesFolder() {
    char folder[FilesFolderSize];
    CopyFilesFolder(folder);
    const QString path = QDir(QDir::currentPath()).absoluteFilePath(QString::fromLocal8Bit(folder));
    if (!QFileInfo(path).isDir()) {
        ShowMessage(notice_label_, QString("The files folder %1 does not exist").arg(path));
        return;
    }
    // Without a program that opens folders (xdg-open) nothing would show: the path is given in a
    // box instead, where it can be copied.
    if (QStandardPaths::findExecutable("xdg-open").isEmpty() ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        auto* box = new QMessageBox(QMessageBox::Information, "Lunabrik",
                                    QString("No program to show folders is installed here. The "
                                            "files folder is:\n\n%1")
                                        .arg(QDir::toNativeSeparators(path)),
                                    QMessageBox::Ok, this);
        box->setObjectName("filesFolderPath");
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QDialog::finished, this, [this] { ReturnFocus(); });
        box->open();
    }
}

void MainWindow::ShowContextMenu(const QPoint& global) {
    QMenu menu(this);
    const QString selected = display_->SelectedText();
    menu.addAction(selected.isEmpty() ? "&Copy screen" : "&Copy selection", this, [this, selected] {
        if (selected.isEmpty())
            CopyScreen();
        else
            CopySelection(selected);
    });
    menu.addAction("&Paste", this, [this] { Paste(); });
    menu.addSeparator();
    menu.addAction(SystemPaused() ? "&Resume" : "P&ause", this,
                   [this] { Action("pause")->trigger(); });
    menu.addAction(isFullScreen() ? "&Leave full screen" : "&Full screen", this,
                   [this] { SetFullScreen(!isFullScreen()); });
    menu.exec(global);
    ReturnFocus();
}

void MainWindow::ShowKeyboardMode() {
    const KeyboardMode mode = display_->Mode();
    mode_label_->setText(KeyboardModeText(mode, ShortStatus()));
    if (QAction* natural = Action("naturalKeyboard"))
        natural->setChecked(mode == KeyboardMode::Natural);
}

void MainWindow::ChooseFileToType() {
    const QString path = QFileDialog::getOpenFileName(this, "Type in file", QString(),
                                                      "BASIC and text files (*.bas *.BAS *.txt "
                                                      "*.TXT);;All files (*)");
    ReturnFocus();
    if (!path.isEmpty()) TypeFile(path);
}

void MainWindow::DropFiles(const QList<QUrl>& urls) {
    if (urls.size() != 1 || !urls.first().isLocalFile()) {
        ShowProblem("Drop one text file from this computer to type it in.");
        return;
    }
    TypeFile(urls.first().toLocalFile());
}

// The picture as shown: at the display's factor, as PNG.
bool MainWindow::WriteScreenshot(const QString& path) {
    const QSize f = display_->AxisFactors();
    QImage picture = display_->Picture().scaled(FramePixels * f.width(), FrameLines * f.height(),
                                                Qt::IgnoreAspectRatio, Qt::FastTransformation);
    // Written as every output is: never over what is not a plain file.
    QByteArray png;
    QBuffer buffer(&png);
    const QByteArray name = QFile::encodeName(path);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) {
        errno = 0; // nothing the system said: the picture could not be made
        return false;
    }
    return WriteFileReplacing(name.constData(), png.constData(), size_t(png.size()));
}

// Why a screenshot could not be written at path, for the user; error is the errno of the failed
// write, taken before anything else could change it.
static QString ScreenshotProblem(const QString& path, int error) {
    const std::string refusal = OutputRefusal(QFile::encodeName(path).constData());
    if (!refusal.empty())
        return QString("Not writing the screenshot %1: it is %2, not a plain file")
            .arg(path, QString::fromStdString(refusal));
    return error ? QString("Cannot write the screenshot %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(error)))
                 : QString("Cannot write the screenshot %1").arg(path);
}

QString MainWindow::ScreenshotFolder() {
    QString pictures = qEnvironmentVariable("XDG_PICTURES_DIR");
    if (!QDir::isAbsolutePath(pictures))
        pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) pictures = QDir::homePath() + "/Pictures";
    return pictures + "/Lunabrik";
}

// F12: at once, into the pictures folder, under a name of the date and time that no file there
// has yet; the status bar says where it went, or why it could not.
void MainWindow::SaveScreenshot() {
    const QString folder = ScreenshotFolder();
    if (!QDir().mkpath(folder)) {
        ShowMessage(notice_label_,
                    QString("Cannot save the screenshot: cannot make the folder %1").arg(folder));
        return;
    }
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss");
    QString path = QString("%1/lunabrik-%2.png").arg(folder, stamp);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QString("%1/lunabrik-%2-%3.png").arg(folder, stamp).arg(n);
    if (WriteScreenshot(path))
        ShowMessage(notice_label_, QString("Screenshot saved as %1").arg(path));
    else
        ShowMessage(notice_label_, ScreenshotProblem(path, errno));
}

// A name typed without an extension gets .png (the dialog asks before replacing that file too).
void MainWindow::SaveScreenshotAs() {
    QFileDialog dialog(this, "Save screenshot", ScreenshotFolder() + "/lunabrik.png",
                       "PNG images (*.png)");
    dialog.setObjectName("saveScreenshotDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("png");
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    ReturnFocus();
    if (!chosen) return;
    QString path = dialog.selectedFiles().first();
    if (QFileInfo(path).suffix().isEmpty()) path += ".png"; // a dialog that ignored the suffix
    if (WriteScreenshot(path))
        ShowMessage(notice_label_, QString("Screenshot saved as %1").arg(path));
    else
        ShowProblem(ScreenshotProblem(path, errno) + ".");
}
