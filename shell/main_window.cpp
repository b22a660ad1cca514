#include "shell/main_window.h"

#include "shell/about_dialog.h"
#include "shell/config_dialog.h"
#include "shell/debugger_window.h"
#include "shell/display_widget.h"
#include "shell/emulation_driver.h"
#include "shell/preferences.h"
#include "shell/screenshots.h"
#include "shell/state_controller.h"
#include "shell/status_fields.h"
#include "shell/typing_controller.h"
#include "shell/window_focus.h"
#include "shell/window_menus.h"
#include "system/system.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

namespace {

// Geometry of the client area at the smallest size, in pixels: the frame at (2, 2), the buttons
// in a column to its right.
constexpr int MinClientWidth = 318;
constexpr int MinClientHeight = 249;
constexpr int FrameX = 2, FrameY = 2;
constexpr int ButtonColumn = 73; // from the frame's right edge to the window's
constexpr int ButtonWidth = 64, ButtonHeight = 32, ButtonRight = 4;
constexpr int FrameBorder = 2;

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

    emulation_ = new EmulationDriver(font_loaded, this);
    status_ = new StatusFields(statusBar(), display_, emulation_);
    if (!notice.isEmpty()) status_->Notice(notice);
    typing_ = new TypingController(this, display_, status_);
    states_ = new StateController(this, display_, status_, typing_, emulation_);
    screenshots_ = new Screenshots(this, display_, status_);
    display_->SetKeyboardMode(SavedKeyboardMode());
    menus_ = new WindowMenus(this);
    menuBar()->installEventFilter(this);

    connect(emulation_, &EmulationDriver::PauseChanged, status_, &StatusFields::Update);
    connect(emulation_, &EmulationDriver::PauseChanged, display_, &DisplayWidget::SetPauseMark);
    connect(emulation_, &EmulationDriver::PaceChanged, status_, [this] {
        status_->RestartSpeed(); // the figure is for the new pace alone
        status_->Update();
    });
    connect(about_, &QPushButton::clicked, this,
            [this] { RunDialog([this] { RunAboutDialog(this); }); });
    connect(config_, &QPushButton::clicked, this, [this] {
        RunDialog([this] { RunConfigDialog(this); });
        display_->SetKeyboardMode(SavedKeyboardMode());
        menus_->ShowKeyboardMode();
        menus_->ShowSpeed();
        status_->RestartSpeed();
    });
    connect(reset_, &QPushButton::clicked, this, [this] {
        typing_->CancelTyping();
        emulation_->Reset();
    });
    connect(quit_, &QPushButton::clicked, this, &QWidget::close);
    connect(display_, &DisplayWidget::TurboHeld, emulation_, &EmulationDriver::SetTurboHeld);
    connect(display_, &DisplayWidget::Selected, typing_, &TypingController::CopySelection);
    connect(display_, &DisplayWidget::MiddleClicked, typing_, &TypingController::PasteSelection);
    connect(display_, &DisplayWidget::ContextMenuWanted, menus_, &WindowMenus::ShowContextMenu);
    connect(display_, &DisplayWidget::FilesDropped, typing_, &TypingController::DropFiles);
    connect(display_, &DisplayWidget::TextDropped, typing_,
            [this](const QString& text) { typing_->TypeText(text.toUtf8(), "Dropped text"); });

    LayoutClient();
    display_->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() { Shutdown(); }

QAction* MainWindow::Action(const char* name) const { return menus_->Action(name); }

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
    // A menu closed with Esc leaves the menu bar holding the keyboard: the screen takes it back.
    if (watched == menuBar() && event->type() == QEvent::FocusIn) ReturnFocus(display_);
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) ReturnFocus(display_);
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

// The View menu's entry for scale (Fit to window for 0 and the scales past the menu's).
void MainWindow::CheckScaleEntry(int scale) {
    const QByteArray name =
        scale > 0 && scale <= MaxScale ? QString("scale%1").arg(scale).toLatin1() : "scaleFit";
    if (QAction* a = Action(name.constData())) a->setChecked(true);
}

void MainWindow::SetScale(int scale) {
    scale_ = scale;
    CheckScaleEntry(scale);
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

void MainWindow::SetTelevisionAspect(bool on) {
    display_->SetTelevisionAspect(on);
    if (on && !isFullScreen()) {
        // At least 960 x 720, growing with the window.
        display_->SetMaxFactor(0);
        if (isMaximized()) showNormal();
        resize(size() + display_->SizeForFactor(1) - display_->size());
    } else {
        SetScale(scale_);
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

// Whether a saved geometry is whole: a scratch widget takes it, and it is as long as this Qt
// writes one. A cut or foreign one restored into the window itself would leave it half changed
// (at the smallest size), so it counts as none saved.
static bool WholeGeometry(const QByteArray& geometry) {
    QWidget probe;
    return !geometry.isEmpty() && geometry.size() >= probe.saveGeometry().size() &&
           probe.restoreGeometry(geometry);
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
    } else if (WholeGeometry(geometry) && restoreGeometry(geometry) &&
               !(fitted = FitWindowToScreen(this->geometry(), available)).isEmpty()) {
        setGeometry(fitted);
        scale_ = scale;
        display_->SetMaxFactor(scale);
        CheckScaleEntry(scale);
    } else {
        setGeometry(before);
        SetScale(scale);
    }
    if (SavedFullScreen()) setWindowState(windowState() | Qt::WindowFullScreen);
}

void MainWindow::StartProcessor() { emulation_->Start(display_); }

void MainWindow::ShowDebugger() {
    if (!debugger_) {
        debugger_ = new DebuggerWindow(this);
        PlaceDebugger();
    }
    debugger_->show();
    debugger_->raise();
    debugger_->activateWindow();
}

// Where it was last; the first time beside the main window, so it covers no part of the picture
// where the screen has room for both.
void MainWindow::PlaceDebugger() {
    const QRect available = screen()->availableGeometry();
    if (const QRect fitted = FitWindowToScreen(SavedDebuggerGeometry(), available);
        !fitted.isEmpty()) {
        debugger_->setGeometry(fitted);
        return;
    }
    debugger_->adjustSize();
    // The frame the window manager adds is about what it adds to the main window.
    const QSize decoration = frameGeometry().size() - geometry().size();
    const QRect outer =
        PlaceBeside(frameGeometry(), debugger_->size() + decoration,
                    debugger_->minimumSizeHint().width() + decoration.width(), available);
    debugger_->move(outer.topLeft());
    debugger_->resize(outer.size() - decoration);
}

// Dialogs are modal; afterwards the keyboard belongs to the display again.
void MainWindow::RunDialog(const std::function<void()>& run) {
    run();
    display_->setFocus(Qt::OtherFocusReason);
    ReturnFocus(display_);
}

// --- Ending ------------------------------------------------------------------------------------

// Quit and the close box end the program the same way.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shut_down_ && isVisible()) {
        SaveWindowState(saveGeometry(), isFullScreen());
        SaveScale(scale_);
        if (debugger_ && debugger_->isVisible()) SaveDebuggerGeometry(debugger_->geometry());
    }
    if (!shut_down_ && emulation_->Running() && !states_->SaveForResume()) {
        event->ignore(); // the machine keeps running, its program kept
        return;
    }
    Shutdown();
    event->accept();
}

// The window's timers stop before the machine's threads, so none looks at a stopped machine.
void MainWindow::Shutdown() {
    shut_down_ = true;
    typing_->Stop();
    status_->Stop();
    states_->Stop();
    emulation_->Stop();
}
