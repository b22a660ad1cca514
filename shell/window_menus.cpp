#include "shell/window_menus.h"

#include "system/files.h"
#include "shell/display_widget.h"
#include "shell/emulation_driver.h"
#include "shell/help_texts.h"
#include "shell/main_window.h"
#include "shell/preferences.h"
#include "shell/recording_controller.h"
#include "shell/screenshots.h"
#include "shell/speed_choice.h"
#include "shell/state_controller.h"
#include "shell/status_fields.h"
#include "shell/typing_controller.h"
#include "shell/window_focus.h"
#include "system/system.h"

#include <QActionGroup>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace {

// Menus whose entries show a thumbnail of the screen rather than a small icon.
class ThumbnailMenuStyle : public QProxyStyle {
  public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_SmallIconSize) return StateController::ThumbnailPixels;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QByteArray Name(const char* pattern, int n) { return QString(pattern).arg(n).toLatin1(); }

} // namespace

// Shortcuts use only keys the emulated keyboard has no code for (F-keys, Insert, Esc, Alt
// combinations), and Ctrl+Shift+C/V, which give the same codes as Ctrl+C/V there.
QAction* WindowMenus::Add(QMenu* menu, const char* name, const QString& text,
                          QList<QKeySequence> keys, std::function<void()> slot) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    window_->addAction(action); // shortcuts work while the menu bar is hidden (full screen)
    connect(action, &QAction::triggered, this, std::move(slot));
    return action;
}

QAction* WindowMenus::Action(const char* name) const { return window_->findChild<QAction*>(name); }

WindowMenus::WindowMenus(MainWindow* window) : QObject(window), window_(window) {
    MainWindow* w = window;
    DisplayWidget* display = w->Display();
    TypingController* typing = w->Typist();
    EmulationDriver* emulation = w->Emulation();
    QMenuBar* bar = w->menuBar();

    QMenu* file = bar->addMenu("&File");
    Add(file, "typeFile", "&Type in program...", {QKeySequence(Qt::Key_F3)},
        [typing] { typing->ChooseFileToType(); });
    recent_ = file->addMenu("&Recent programs");
    recent_->setObjectName("recentPrograms");
    connect(recent_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
    Add(file, "openFilesFolder", "&Open files folder", {}, [this] { OpenFilesFolder(); });
    Add(file, "saveScreenshot", "&Save screenshot", {QKeySequence(Qt::Key_F12)},
        [w] { w->Shots()->Save(); });
    Add(file, "saveScreenshotAs", "Save screenshot &as...", {}, [w] { w->Shots()->SaveAs(); });
    file->addSeparator();
    BuildStateEntries(file);
    Add(file, "quit", "&Quit", {QKeySequence(Qt::ALT | Qt::Key_F4)}, [w] { w->close(); });

    QMenu* edit = bar->addMenu("&Edit");
    Add(edit, "copyScreen", "&Copy screen", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
        [typing] { typing->CopyScreen(); });
    Add(edit, "paste", "&Paste",
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
        [typing] { typing->Paste(); });
    QAction* cancel = Add(edit, "cancelTyping", "Cancel &typing", {QKeySequence(Qt::Key_Escape)},
                          [typing] { typing->CancelTyping(); });
    cancel->setEnabled(false);
    connect(typing, &TypingController::TypingChanged, cancel, &QAction::setEnabled);

    QMenu* view = bar->addMenu("&View");
    auto* scales = new QActionGroup(this);
    for (int s = 1; s <= MainWindow::MaxScale; ++s) {
        QAction* a = Add(view, Name("scale%1", s).constData(), QString("&%1x").arg(s),
                         {QKeySequence(Qt::ALT | (Qt::Key_0 + s))}, [w, s] { w->SetScale(s); });
        a->setCheckable(true);
        scales->addAction(a);
    }
    QAction* fit = Add(view, "scaleFit", "&Fit to window", {QKeySequence(Qt::ALT | Qt::Key_0)},
                       [w] { w->SetScale(0); });
    fit->setCheckable(true);
    scales->addAction(fit);
    view->addSeparator();
    QAction* television = Add(view, "television", "4:3 like a &television", {}, [this, w] {
        w->SetTelevisionAspect(Action("television")->isChecked());
    });
    television->setCheckable(true);
    QAction* crt = Add(view, "crtLook", "&CRT look", {}, [this, w] {
        const bool on = Action("crtLook")->isChecked();
        w->Display()->SetCrtLook(on);
        SaveCrtLook(on);
    });
    crt->setCheckable(true);
    crt->setChecked(SavedCrtLook());
    crt->setToolTip("Scanlines and the glow of a 1978 monitor");
    w->Display()->SetCrtLook(crt->isChecked());
    view->addSeparator();
    QAction* full = Add(view, "fullScreen", "F&ull screen", {QKeySequence(Qt::Key_F11)},
                        [w] { w->SetFullScreen(!w->isFullScreen()); });
    full->setCheckable(true);

    // Speed: the shares of a real ABC80, as fast as possible, the file's idle iterations when it
    // holds them (shown, never offered), then pause and turbo.
    QMenu* speed = bar->addMenu("&Speed");
    speed->setObjectName("speedMenu");
    auto* speeds = new QActionGroup(this);
    speeds->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int p : SpeedPercents) {
        QAction* a = Add(speed, Name("speed%1", p).constData(), SpeedName(p, 0), {},
                         [this, p] { PickSpeed(p); });
        a->setCheckable(true);
        speeds->addAction(a);
    }
    QAction* fastest = Add(speed, "speedFastest", SpeedName(FastestSpeed, 0), {},
                           [this] { PickSpeed(FastestSpeed); });
    fastest->setCheckable(true);
    speeds->addAction(fastest);
    QAction* idle = Add(speed, "speedIdleIterations", QString(), {}, [] {});
    idle->setCheckable(true);
    idle->setEnabled(false);
    speeds->addAction(idle);
    speed->addSeparator();
    connect(speed, &QMenu::aboutToShow, this, [this] { ShowSpeed(); });

    QMenu* machine = bar->addMenu("&Machine");
    Add(machine, "reset", "&Reset", {}, [w] { w->ResetButton()->click(); });
    Add(machine, "powerCycle", "Power &off and on", {}, [this] { PowerCycle(); });
    QAction* pause = Add(machine, "pause", "&Pause", {QKeySequence(Qt::Key_Pause)},
                         [emulation] { emulation->SetPaused(!emulation->Paused()); });
    pause->setCheckable(true);
    connect(emulation, &EmulationDriver::PauseChanged, pause, &QAction::setChecked);
    connect(emulation, &EmulationDriver::PauseChanged, this, [this] { ShowSpeed(); });
    // One second back per press, paused there; held, the key repeats.
    Add(machine, "rewind", "Re&wind one second (hold F4; host files are not rewound)",
        {QKeySequence(Qt::Key_F4)}, [w] { w->States()->Rewind(); });
    // Recorded sessions: each entry starts, or stops what is under way.
    auto* recordings = new RecordingController(w, display, w->Status(), typing);
    recordings->setObjectName("recordings");
    QAction* record =
        Add(machine, "record", "R&ecord...", {}, [recordings] { recordings->ToggleRecording(); });
    QAction* play = Add(machine, "playRecording", "P&lay recording...", {},
                        [recordings] { recordings->TogglePlaying(); });
    recordings->SetActions(record, play);
    // Turbo: the menu's toggle, or the turbo key (F9) held on the screen.
    QAction* turbo = Add(machine, "turbo", "&Turbo (as fast as possible, or hold F9)",
                         {QKeySequence(Qt::CTRL | Qt::Key_F9)}, [this, emulation] {
                             emulation->SetTurboChosen(Action("turbo")->isChecked());
                         });
    turbo->setCheckable(true);
    speed->addAction(pause);
    speed->addAction(turbo);
    Add(machine, "debugger", "&Debugger...", {QKeySequence(Qt::CTRL | Qt::Key_F7)},
        [w] { w->ShowDebugger(); });
    Add(machine, "config", "&Config...", {QKeySequence(Qt::Key_F2)},
        [w] { w->ConfigButton()->click(); });
    QAction* natural = Add(machine, "naturalKeyboard", "&Keyboard as typed", {}, [this, display] {
        SaveKeyboardMode(Action("naturalKeyboard")->isChecked() ? KeyboardMode::Natural
                                                                : KeyboardMode::Positional);
        display->SetKeyboardMode(SavedKeyboardMode());
        ShowKeyboardMode();
    });
    natural->setCheckable(true);

    QMenu* help = bar->addMenu("&Help");
    Add(help, "keyboardHelp", "&Keyboard", {},
        [w] { ShowHelp(w, "Lunabrik: the keyboard", KeyboardHelpText()); });
    Add(help, "basicHelp", "The free &BASIC", {}, [w] {
        const QString text = BasicHelpText();
        ShowHelp(w, "Lunabrik: the free BASIC",
                 text.isEmpty() ? QString("The BASIC's description is missing.") : text);
    });
    help->addSeparator();
    Add(help, "about", "&About Lunabrik", {QKeySequence(Qt::Key_F1)},
        [w] { w->AboutButton()->click(); });

    // Menus return the keyboard to the screen when they close, however they close.
    for (QMenu* menu : {file, edit, view, speed, machine, help})
        connect(menu, &QMenu::aboutToHide, this, [display] { ReturnFocus(display); });
    ShowKeyboardMode();
    ShowSpeed();
}

// A speed from the menu holds from now on, as the Config dialog's would: Lunabrik.cfg gets its
// waitstates when they changed, the preferences the percent. A paused machine runs on.
void WindowMenus::PickSpeed(int speed) {
    if (ChooseSpeed(speed)) {
        if (const OutputResult saved = SystemSaveSettings(); !saved.ok)
            window_->Status()->Notice(QString::fromStdString("The speed holds, but " +
                                                             saved.Problem(SystemSettingsName)));
    }
    EmulationDriver* emulation = window_->Emulation();
    if (emulation->Paused()) emulation->SetPaused(false);
    window_->Status()->RestartSpeed();
    ShowSpeed();
    window_->Status()->Update();
}

void WindowMenus::ShowSpeed() {
    const int current = CurrentSpeed();
    QAction* idle = Action("speedIdleIterations");
    idle->setVisible(current == IdleIterationsSpeed);
    idle->setText(SpeedName(IdleIterationsSpeed, SystemChosenPace()));
    for (QAction* a : idle->actionGroup()->actions())
        a->setChecked(false);
    const bool paused = window_->Emulation()->Paused();
    if (current == IdleIterationsSpeed)
        idle->setChecked(true);
    else if (QAction* a = Action(current == FastestSpeed ? QByteArray("speedFastest")
                                                         : Name("speed%1", current)))
        a->setChecked(!paused);
}

void WindowMenus::BuildStateEntries(QMenu* file) {
    StateController* states = window_->States();
    Add(file, "saveState", "Sa&ve state...", {}, [states] { states->ChooseStateToSave(); });
    Add(file, "loadState", "&Load state...", {}, [states] { states->ChooseStateToLoad(); });
    // Quick slots on F5-F8 (load) and Shift+F5-F8 (save): keys the ABC80 keyboard has no code for.
    for (bool save : {true, false}) {
        QMenu* menu = file->addMenu(save ? "&Quick save" : "Q&uick load");
        menu->setObjectName(save ? "quickSaveMenu" : "quickLoadMenu");
        auto* style = new ThumbnailMenuStyle;
        style->setParent(menu); // a widget does not own the style it is given
        menu->setStyle(style);
        for (int slot = 1; slot <= StateController::QuickSlots; ++slot) {
            const QKeySequence key(save ? Qt::SHIFT | (Qt::Key_F4 + slot) : Qt::Key_F4 + slot);
            Add(menu, Name(save ? "quickSave%1" : "quickLoad%1", slot).constData(),
                QString("Slot &%1").arg(slot), {key}, [states, save, slot] {
                    if (save)
                        states->QuickSave(slot);
                    else
                        states->QuickLoad(slot);
                });
        }
        connect(menu, &QMenu::aboutToShow, this, [this] { ShowQuickSlots(); });
        connect(menu, &QMenu::aboutToHide, this, [this] { ReturnFocus(window_->Display()); });
    }
    QAction* resume = Add(file, "resume", "Resume where I &left off", {},
                          [this] { SaveResume(Action("resume")->isChecked()); });
    resume->setCheckable(true);
    resume->setChecked(SavedResume());
    resume->setToolTip("Save the machine at Quit and load it at the next start");
    file->addSeparator();
    connect(states, &StateController::SlotsChanged, this, [this] { ShowQuickSlots(); });
    ShowQuickSlots();
}

// Each quick slot's entries show when it was saved and the screen then; an empty slot says so.
void WindowMenus::ShowQuickSlots() {
    for (int slot = 1; slot <= StateController::QuickSlots; ++slot) {
        const StateController::Slot s = StateController::QuickSlot(slot);
        for (const char* kind : {"quickSave%1", "quickLoad%1"}) {
            QAction* a = Action(Name(kind, slot).constData());
            a->setText(QString("Slot &%1: %2").arg(slot).arg(s.when));
            a->setIcon(s.picture);
        }
        Action(Name("quickLoad%1", slot).constData())->setEnabled(s.saved);
    }
}

void WindowMenus::FillRecentMenu() {
    recent_->clear();
    const QStringList recent = TypingController::RecentPrograms();
    TypingController* typing = window_->Typist();
    for (const QString& path : recent)
        recent_
            ->addAction(QFileInfo(path).fileName(), this,
                        [typing, path] { typing->TypeFile(path); })
            ->setToolTip(path);
    if (recent.isEmpty()) recent_->addAction("(none yet)")->setEnabled(false);
}

// The files folder of the settings, as the desktop's file manager shows folders.
void WindowMenus::OpenFilesFolder() {
    const QString path = QDir(QDir::currentPath())
                             .absoluteFilePath(QString::fromLocal8Bit(SystemFilesFolder().c_str()));
    if (!QFileInfo(path).isDir()) {
        window_->Status()->Notice(QString("The files folder %1 does not exist").arg(path));
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
                                    QMessageBox::Ok, window_);
        box->setObjectName("filesFolderPath");
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QDialog::finished, this, [this] { ReturnFocus(window_->Display()); });
        box->open();
    }
}

void WindowMenus::PowerCycle() {
    window_->Typist()->CancelTyping();
    const char* missing = nullptr;
    if (window_->Emulation()->PowerCycle(&missing))
        window_->Status()->Notice("Switched off and on: the ROM images loaded afresh");
    else
        window_->Status()->Notice(QString("Switched off and on, but %1 could not be loaded")
                                      .arg(missing ? missing : "a ROM image"));
}

void WindowMenus::ShowContextMenu(const QPoint& global) {
    MainWindow* w = window_;
    TypingController* typing = w->Typist();
    QMenu menu(w);
    const QString selected = w->Display()->SelectedText();
    menu.addAction(selected.isEmpty() ? "&Copy screen" : "&Copy selection", this,
                   [typing, selected] {
                       if (selected.isEmpty())
                           typing->CopyScreen();
                       else
                           typing->CopySelection(selected);
                   });
    menu.addAction("&Paste", this, [typing] { typing->Paste(); });
    menu.addSeparator();
    menu.addAction(w->Emulation()->Paused() ? "&Resume" : "P&ause", this,
                   [this] { Action("pause")->trigger(); });
    menu.addAction(w->isFullScreen() ? "&Leave full screen" : "&Full screen", this,
                   [w] { w->SetFullScreen(!w->isFullScreen()); });
    menu.exec(global);
    ReturnFocus(w->Display());
}

void WindowMenus::ShowKeyboardMode() {
    window_->Status()->ShowKeyboardMode();
    if (QAction* natural = Action("naturalKeyboard"))
        natural->setChecked(window_->Display()->Mode() == KeyboardMode::Natural);
}
