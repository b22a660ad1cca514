#include "shell/main_window.h"

#include "cpu/processor.h"
#include "display/display.h"
#include "host/file_io.h"
#include "machine/control.h"
#include "system/startup.h"
#include "shell/about_dialog.h"
#include "shell/config_dialog.h"
#include "shell/display_widget.h"
#include "shell/preferences.h"
#include "shell/status_sources.h"
#include "shell/typed_file.h"

#include <QActionGroup>
#include <QApplication>
#include <QBuffer>
#include <QLayout>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>

#include <cmath>

namespace {

// Geometry of the client area at the smallest size, in pixels: the frame at (2, 2), the buttons
// in a column to its right.
constexpr int MinClientWidth = 318;
constexpr int MinClientHeight = 249;
constexpr int FrameX = 2, FrameY = 2;
constexpr int ButtonColumn = 73; // from the frame's right edge to the window's
constexpr int ButtonWidth = 64, ButtonHeight = 32, ButtonRight = 4;
constexpr int FrameBorder = 2;
constexpr int TickMilliseconds = 20;
constexpr int TypingStepMilliseconds = 2;
constexpr int StatusMilliseconds = 250;
constexpr int MaxScale = 4; // the View menu's scales

QString KeyboardModeText(KeyboardMode mode) {
    return mode == KeyboardMode::Natural ? "Keyboard: as typed" : "Keyboard: Swedish positions";
}

} // namespace

MainWindow::MainWindow(bool font_loaded, const QString& notice) {
    setObjectName("Lunabrik");
    setWindowTitle("Lunabrik");
    setWindowIcon(LunabrikIcon());

    client_ = new QWidget(this);
    client_->setObjectName("client");
    client_->setMinimumSize(MinClientWidth, MinClientHeight);
    client_->installEventFilter(this);
    setCentralWidget(client_);

    frame_ = new QFrame(client_);
    frame_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame_->setLineWidth(FrameBorder);
    display_ = new DisplayWidget(frame_);

    // Buttons never take the keyboard focus: typing after a click still reaches the machine.
    auto button = [this](const char* text) {
        auto* b = new QPushButton(text, client_);
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    about_ = button("About");
    config_ = button("Config");
    reset_ = button("Reset");
    quit_ = button("Quit");

    auto field = [this](const char* name, bool permanent) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        if (permanent)
            statusBar()->addPermanentWidget(label);
        else
            statusBar()->addWidget(label);
        return label;
    };
    notice_label_ = field("notice", false);
    typing_label_ = field("typing", false);
    warning_label_ = field("hostFileWarning", false);
    speed_label_ = field("speed", true);
    mode_label_ = field("keyboardMode", true);
    notice_label_->setText(notice);
    notice_label_->setVisible(!notice.isEmpty());
    typing_label_->hide();
    warning_label_->hide();
    speed_label_->hide();
    statusBar()->setSizeGripEnabled(true);

    display_->SetKeyboardMode(SavedKeyboardMode());
    BuildMenus();
    ShowKeyboardMode();

    connect(about_, &QPushButton::clicked, this,
            [this] { RunDialog([this] { RunAboutDialog(this); }); });
    connect(config_, &QPushButton::clicked, this, [this] {
        RunDialog([this] { RunConfigDialog(this); });
        display_->SetKeyboardMode(SavedKeyboardMode());
        ShowKeyboardMode();
    });
    connect(reset_, &QPushButton::clicked, this, [this] {
        CancelTyping();
        SetControlFlags(RESET);
    });
    connect(quit_, &QPushButton::clicked, this, &QWidget::close);
    connect(display_, &DisplayWidget::FilesDropped, this, &MainWindow::DropFiles);
    connect(display_, &DisplayWidget::TextDropped, this,
            [this](const QString& text) { TypeText(text.toUtf8(), "Dropped text"); });

    typing_timer_.setTimerType(Qt::PreciseTimer);
    typing_timer_.setInterval(TypingStepMilliseconds);
    connect(&typing_timer_, &QTimer::timeout, this, &MainWindow::TypingStep);
    Pace() = {2, 2, 10}; // 4 ms held, 4 ms apart, 20 ms after Enter

    speed_source_ = ReadSpeedSample;
    warning_source_ = ReadHostFileWarning;
    clock_.start();
    connect(&status_timer_, &QTimer::timeout, this, &MainWindow::UpdateStatus);
    status_timer_.start(StatusMilliseconds);

    LayoutClient();
    SetUpDisplay(font_loaded);
    display_->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() { Shutdown(); }

QAction* MainWindow::Action(const char* name) const { return findChild<QAction*>(name); }

// Shortcuts use only keys the emulated keyboard has no code for (F-keys, Insert, Esc, Alt
// combinations), and Ctrl+Shift+C/V, which give the same codes as Ctrl+C/V there.
void MainWindow::BuildMenus() {
    auto add = [this](QMenu* menu, const char* name, const QString& text, QList<QKeySequence> keys,
                      auto slot) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action); // shortcuts work while the menu bar is hidden (full screen)
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenu* file = menuBar()->addMenu("&File");
    add(file, "typeFile", "&Type in file...", {QKeySequence(Qt::Key_F3)},
        [this] { ChooseFileToType(); });
    add(file, "saveScreenshot", "&Save screenshot...", {QKeySequence(Qt::Key_F12)},
        [this] { SaveScreenshot(); });
    file->addSeparator();
    add(file, "quit", "&Quit", {QKeySequence(Qt::ALT | Qt::Key_F4)}, [this] { close(); });

    QMenu* edit = menuBar()->addMenu("&Edit");
    add(edit, "copyScreen", "&Copy screen", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
        [this] { CopyScreen(); });
    add(edit, "paste", "&Paste",
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
        [this] { Paste(); });
    QAction* cancel = add(edit, "cancelTyping", "Cancel &typing", {QKeySequence(Qt::Key_Escape)},
                          [this] { CancelTyping(); });
    cancel->setEnabled(false);

    QMenu* view = menuBar()->addMenu("&View");
    auto* scales = new QActionGroup(this);
    for (int s = 1; s <= MaxScale; ++s) {
        QAction* a =
            add(view, QString("scale%1").arg(s).toLatin1().constData(), QString("&%1x").arg(s),
                {QKeySequence(Qt::ALT | (Qt::Key_0 + s))}, [this, s] { SetScale(s); });
        a->setCheckable(true);
        scales->addAction(a);
    }
    QAction* fit = add(view, "scaleFit", "&Fit to window", {QKeySequence(Qt::ALT | Qt::Key_0)},
                       [this] { SetScale(0); });
    fit->setCheckable(true);
    scales->addAction(fit);
    view->addSeparator();
    QAction* full = add(view, "fullScreen", "F&ull screen", {QKeySequence(Qt::Key_F11)},
                        [this] { SetFullScreen(!isFullScreen()); });
    full->setCheckable(true);

    QMenu* machine = menuBar()->addMenu("&Machine");
    add(machine, "reset", "&Reset", {}, [this] { reset_->click(); });
    add(machine, "config", "&Config...", {QKeySequence(Qt::Key_F2)}, [this] { config_->click(); });
    QAction* natural = add(machine, "naturalKeyboard", "&Keyboard as typed", {}, [this] {
        SaveKeyboardMode(Action("naturalKeyboard")->isChecked() ? KeyboardMode::Natural
                                                                : KeyboardMode::Positional);
        display_->SetKeyboardMode(SavedKeyboardMode());
        ShowKeyboardMode();
    });
    natural->setCheckable(true);

    QMenu* help = menuBar()->addMenu("&Help");
    add(help, "about", "&About Lunabrik", {QKeySequence(Qt::Key_F1)}, [this] { about_->click(); });

    // Menus return the focus to the display when they close.
    for (QMenu* menu : {file, edit, view, machine, help})
        connect(menu, &QMenu::aboutToHide, this, [this] { display_->setFocus(); });
}

void MainWindow::ShowKeyboardMode() {
    const KeyboardMode mode = display_->Mode();
    mode_label_->setText(KeyboardModeText(mode));
    if (QAction* natural = Action("naturalKeyboard"))
        natural->setChecked(mode == KeyboardMode::Natural);
}

// The frame fills the client area but for the button column; in full screen the display alone
// fills it, on black.
void MainWindow::LayoutClient() {
    const int w = client_->width(), h = client_->height();
    if (isFullScreen()) {
        frame_->setFrameStyle(QFrame::NoFrame);
        frame_->setGeometry(0, 0, w, h);
    } else {
        frame_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame_->setGeometry(FrameX, FrameY, w - FrameX - ButtonColumn + 2, h - 2 * FrameY);
        const int x = w - ButtonRight - ButtonWidth;
        int y = 2;
        for (QPushButton* b : {about_, config_, reset_, quit_}) {
            b->setGeometry(x, y, ButtonWidth, ButtonHeight);
            y += ButtonHeight + 2;
        }
    }
    display_->setGeometry(frame_->contentsRect());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) LayoutClient();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const bool full = isFullScreen();
        menuBar()->setVisible(!full);
        statusBar()->setVisible(!full);
        for (QPushButton* b : {about_, config_, reset_, quit_})
            b->setVisible(!full);
        if (QAction* a = Action("fullScreen")) a->setChecked(full);
        display_->SetMaxFactor(full ? 0 : scale_);
        LayoutClient();
    }
    QMainWindow::changeEvent(event);
}

int MainWindow::FirstStartScale(int screen_device_height) {
    int scale = 1;
    while (FramePixels * (scale + 1) <= screen_device_height * 3 / 4)
        ++scale;
    return scale;
}

void MainWindow::SetScale(int scale) {
    scale_ = scale;
    if (QAction* a = Action(scale > 0 && scale <= MaxScale
                                ? QString("scale%1").arg(scale).toLatin1().constData()
                                : "scaleFit"))
        a->setChecked(true);
    if (isFullScreen()) return; // full screen shows the largest that fits; the choice waits
    display_->SetMaxFactor(scale);
    if (scale > 0) {
        if (isMaximized()) showNormal();
        // The window grows or shrinks by what the display needs.
        if (layout()) layout()->activate();
        LayoutClient();
        const QSize want = display_->SizeForFactor(scale);
        resize(size() + want - display_->size());
    }
}

void MainWindow::SetFullScreen(bool on) {
    if (on == isFullScreen()) return;
    if (on)
        showFullScreen();
    else
        showNormal();
    display_->setFocus();
}

void MainWindow::RestoreWindowState() {
    const QByteArray geometry = SavedGeometry();
    int scale = SavedScale();
    // Saved values are made to fit the screen; absurd ones count as none saved.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
    const QSize around(MinClientWidth - FramePixels, MinClientHeight - FramePixels +
                                                         menuBar()->sizeHint().height() +
                                                         statusBar()->sizeHint().height());
    scale = FitScaleToScreen(scale, FramePixels, around, available,
                             screen ? screen->devicePixelRatio() : 1);
    const QRect before = this->geometry();
    QRect fitted;
    if (scale < 0) {
        // First start: the largest picture that fits in three quarters of the screen's height;
        // past the menu's largest scale the picture fits the window from then on.
        const int device_height =
            screen ? int(screen->availableGeometry().height() * screen->devicePixelRatio()) : 480;
        const int first = FirstStartScale(device_height);
        SetScale(first);
        if (first > MaxScale) {
            scale_ = 0;
            display_->SetMaxFactor(0);
        }
    } else if (!geometry.isEmpty() && restoreGeometry(geometry) &&
               !(fitted = FitWindowToScreen(this->geometry(), available)).isEmpty()) {
        setGeometry(fitted);
        scale_ = scale;
        display_->SetMaxFactor(scale);
        if (QAction* a = Action(scale > 0 && scale <= MaxScale
                                    ? QString("scale%1").arg(scale).toLatin1().constData()
                                    : "scaleFit"))
            a->setChecked(true);
    } else {
        setGeometry(before);
        SetScale(scale);
    }
    if (SavedFullScreen()) setWindowState(windowState() | Qt::WindowFullScreen);
}

// The RenderThread waits on the render event from the start; the tick runs only when start-up
// built the character generator. Without font.bin the window works and the display stays black.
void MainWindow::SetUpDisplay(bool font_loaded) {
    render_thread_ = std::thread(RenderThreadBody, std::ref(render_event_), &DisplayWidget::Present,
                                 static_cast<void*>(display_));
    if (!font_loaded) return;
    tick_timer_.setTimerType(Qt::PreciseTimer);
    tick_timer_.setInterval(TickMilliseconds);
    connect(&tick_timer_, &QTimer::timeout, this, &MainWindow::Tick);
    tick_timer_.start();
}

// The emulated 50 Hz clock interrupt and the display refresh.
void MainWindow::Tick() { MachineTick(&render_event_); }

void MainWindow::StartProcessor() {
    if (!processor_thread_.joinable())
        processor_thread_ = std::thread(ProcessorThreadBody, nullptr);
}

// Dialogs are modal; afterwards the keyboard belongs to the display again.
void MainWindow::RunDialog(const std::function<void()>& run) {
    run();
    display_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ShowProblem(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, "Lunabrik", text, QMessageBox::Ok, this);
    box->setObjectName("typingProblem");
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this] { display_->setFocus(); });
    box->open();
}

// --- Typing, copy and paste --------------------------------------------------------------------

void MainWindow::TypeText(const QByteArray& utf8, const QString& what) {
    std::string codes;
    typing_skipped_ = TextToCodes(utf8.constData(), size_t(utf8.size()), codes);
    typing_what_ = what;
    TypistStart(typist_, codes);
    display_->SetTypingActive(true);
    Action("cancelTyping")->setEnabled(true);
    typing_label_->show();
    TypingStep();
    if (Typing()) typing_timer_.start();
}

void MainWindow::TypingStep() {
    if (Typing() && display_->KeysPending()) return; // keys typed before the paste go first
    const bool busy = TypistStep(typist_);
    const size_t total = typist_.codes.size();
    if (busy) {
        // The label changes only every few dozen keys: a long paste costs no painting.
        if (TypistDone(typist_) % 32 == 1 || TypistDone(typist_) == total)
            typing_label_->setText(QString("%1: %2 of %3 characters (Esc cancels)")
                                       .arg(typing_what_)
                                       .arg(TypistDone(typist_))
                                       .arg(total));
        return;
    }
    typing_timer_.stop();
    display_->SetTypingActive(false);
    Action("cancelTyping")->setEnabled(false);
    QString text = QString("%1: typed %2 characters").arg(typing_what_).arg(total);
    if (typing_skipped_)
        text += QString(", skipped %1 with no ABC80 character").arg(typing_skipped_);
    if (typist_.not_taken) text += QString(", %1 not taken by the machine").arg(typist_.not_taken);
    typing_label_->setText(text);
}

void MainWindow::CancelTyping() {
    if (!Typing()) return;
    const size_t done = TypistDone(typist_);
    TypistCancel(typist_);
    typing_timer_.stop();
    display_->SetTypingActive(false);
    Action("cancelTyping")->setEnabled(false);
    typing_label_->setText(QString("%1: cancelled after %2 of %3 characters")
                               .arg(typing_what_)
                               .arg(done)
                               .arg(typist_.codes.size()));
}

bool MainWindow::TypeFile(const QString& path) {
    QByteArray text;
    QString error;
    qsizetype latin1 = 0;
    if (!ReadTextForTyping(path, text, error, &latin1)) {
        ShowProblem(error);
        return false;
    }
    QString what = QFileInfo(path).fileName();
    if (latin1 > 0)
        what += QString(" (%1 %2 not UTF-8, read as Latin-1)")
                    .arg(latin1)
                    .arg(latin1 == 1 ? "byte" : "bytes");
    TypeText(text, what);
    return true;
}

// The machine waits for input once its screen has stopped changing for half a second after
// start-up (the ROM has printed its greeting and prompt); ten seconds at most.
void MainWindow::TypeFileWhenReady(const QString& path) {
    auto last = std::make_shared<std::string>();
    auto steady = std::make_shared<int>(0);
    auto waited = std::make_shared<int>(0);
    ready_timer_.setInterval(100);
    connect(&ready_timer_, &QTimer::timeout, this, [=, this] {
        const std::string screen = ScreenAsText();
        const bool blank = screen.find_first_not_of('\n') == std::string::npos;
        *steady = (!blank && screen == *last) ? *steady + 1 : 0;
        *last = screen;
        if (*steady >= 5 || ++*waited >= 100) {
            ready_timer_.stop();
            ready_timer_.disconnect();
            TypeFile(path);
        }
    });
    ready_timer_.start();
}

void MainWindow::Paste() {
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty()) {
        typing_label_->setText("Paste: the clipboard holds no text");
        typing_label_->show();
        return;
    }
    TypeText(text.toUtf8(), "Paste");
}

void MainWindow::CopyScreen() {
    QApplication::clipboard()->setText(QString::fromStdString(ScreenAsText()));
}

void MainWindow::ChooseFileToType() {
    const QString path = QFileDialog::getOpenFileName(this, "Type in file", QString(),
                                                      "BASIC and text files (*.bas *.BAS *.txt "
                                                      "*.TXT);;All files (*)");
    display_->setFocus();
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
void MainWindow::SaveScreenshot() {
    const QString path =
        QFileDialog::getSaveFileName(this, "Save screenshot", "lunabrik.png", "PNG images (*.png)");
    display_->setFocus();
    if (path.isEmpty()) return;
    const int f = display_->Factor();
    QImage picture = display_->Picture().scaled(FramePixels * f, FrameLines * f,
                                                Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QByteArray png;
    QBuffer buffer(&png);
    const QByteArray name = QFile::encodeName(path);
    if (buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG") &&
        WriteFileReplacing(name.constData(), png.constData(), size_t(png.size())))
        return;
    const std::string refusal = OutputRefusal(name.constData());
    ShowProblem(refusal.empty() ? QString("Cannot write the screenshot %1.").arg(path)
                                : QString("Not writing the screenshot %1: it is %2, not a plain "
                                          "file.")
                                      .arg(path, QString::fromStdString(refusal)));
}

// --- Status bar --------------------------------------------------------------------------------

void MainWindow::SetStatusSources(std::function<bool(uint64_t&, uint64_t&)> speed,
                                  std::function<bool(uint32_t&, QString&)> warnings,
                                  std::function<double()> clock) {
    speed_source_ = std::move(speed);
    warning_source_ = std::move(warnings);
    clock_source_ = std::move(clock);
    speed_meter_.Clear();
}

void MainWindow::UpdateStatus() {
    uint64_t instructions = 0, tstates = 0;
    SpeedFigure figure{};
    if (speed_source_ && speed_source_(instructions, tstates)) {
        speed_meter_.Add(clock_source_ ? clock_source_() : clock_.nsecsElapsed() / 1e9,
                         instructions, tstates);
        if (speed_meter_.Figure(figure)) {
            const double percent = figure.percent;
            speed_label_->setText(QString("%1 % of an ABC80, %2 MIPS")
                                      .arg(percent, 0, 'f', percent < 10 ? 1 : 0)
                                      .arg(figure.mips, 0, 'f', figure.mips < 10 ? 2 : 1));
            speed_label_->show();
        }
    } else {
        speed_label_->hide();
    }
    uint32_t count = 0;
    QString text;
    if (warning_source_ && warning_source_(count, text) && count != warnings_seen_) {
        warnings_seen_ = count;
        warning_label_->setText(
            count == 1 ? QString("Host file warning: %1").arg(text)
                       : QString("Host file warnings: %1, the latest: %2").arg(count).arg(text));
        warning_label_->show();
    }
}

// --- Ending ------------------------------------------------------------------------------------

// Quit and the close box end the program the same way.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shut_down_ && isVisible()) {
        SaveWindowState(saveGeometry(), isFullScreen());
        SaveScale(scale_);
    }
    Shutdown();
    event->accept();
}

// The processor tests QUIT before every instruction and during its pacing wait, so the join is
// prompt whatever it is doing, HALT and stalls included.
void MainWindow::Shutdown() {
    shut_down_ = true;
    TypistCancel(typist_);
    typing_timer_.stop();
    ready_timer_.stop();
    status_timer_.stop();
    if (processor_thread_.joinable()) {
        SetControlFlags(QUIT);
        processor_thread_.join();
    }
    tick_timer_.stop();
    render_event_.Close();
    if (render_thread_.joinable()) render_thread_.join();
}
