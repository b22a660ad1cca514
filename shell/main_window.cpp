#include "shell/main_window.h"

#include "display/display.h"
#include "shell/about_dialog.h"
#include "shell/config_dialog.h"
#include "shell/display_widget.h"
#include "shell/preferences.h"
#include "shell/status_sources.h"
#include "system/system.h"

#include <QActionGroup>
#include <QApplication>
#include <QBuffer>
#include <QLayout>
#include <QClipboard>
#include <QCloseEvent>
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
constexpr int StatusMilliseconds = 250;
constexpr int TypingStatusMilliseconds = 50;

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

    // Messages share what the permanent fields leave and never widen the window.
    auto field = [this](const char* name, bool permanent) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        if (permanent) {
            statusBar()->addPermanentWidget(label);
        } else {
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            statusBar()->addWidget(label, 1);
        }
        return label;
    };
    notice_label_ = field("notice", false);
    typing_label_ = field("typing", false);
    warning_label_ = field("hostFileWarning", false);
    speed_label_ = field("speed", true);
    mode_label_ = field("keyboardMode", true);
    typing_label_->hide();
    warning_label_->hide();
    speed_label_->hide();
    notice_label_->hide();
    if (!notice.isEmpty()) ShowMessage(notice_label_, notice);
    statusBar()->setSizeGripEnabled(true);

    display_->SetKeyboardMode(SavedKeyboardMode());
    BuildMenus();
    menuBar()->installEventFilter(this);
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
        SystemReset();
    });
    connect(quit_, &QPushButton::clicked, this, &QWidget::close);
    connect(display_, &DisplayWidget::TurboHeld, this, [this](bool held) {
        turbo_held_ = held;
        ApplyTurbo();
    });
    connect(display_, &DisplayWidget::Selected, this, &MainWindow::CopySelection);
    connect(display_, &DisplayWidget::MiddleClicked, this, &MainWindow::PasteSelection);
    connect(display_, &DisplayWidget::ContextMenuWanted, this, &MainWindow::ShowContextMenu);
    connect(display_, &DisplayWidget::FilesDropped, this, &MainWindow::DropFiles);
    connect(display_, &DisplayWidget::TextDropped, this,
            [this](const QString& text) { TypeText(text.toUtf8(), "Dropped text"); });

    typing_timer_.setInterval(TypingStatusMilliseconds);
    connect(&typing_timer_, &QTimer::timeout, this, &MainWindow::ShowTyping);

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
    if (watched == menuBar() && event->type() == QEvent::FocusIn) ReturnFocus();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) ReturnFocus();
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

// The machine's threads draw and tick only when start-up built the character generator; without
// font.bin the window works and the display stays black.
void MainWindow::SetUpDisplay(bool font_loaded) { font_loaded_ = font_loaded; }

void MainWindow::StartProcessor() {
    if (!SystemRunning()) SystemStart(&DisplayWidget::FrameReady, display_);
}

bool MainWindow::ProcessorRunning() const { return SystemRunning(); }

// The screen gets the keyboard back whenever a menu, a dialog or another window had it. Deferred:
// a menu closed with Esc hands the keyboard to the menu bar after its own hide.
void MainWindow::ReturnFocus() {
    QTimer::singleShot(0, display_, [this] {
        if (!QApplication::activeModalWidget() && !QApplication::activePopupWidget())
            display_->setFocus(Qt::OtherFocusReason);
    });
}

// Dialogs are modal; afterwards the keyboard belongs to the display again.
void MainWindow::RunDialog(const std::function<void()>& run) {
    run();
    display_->setFocus(Qt::OtherFocusReason);
    ReturnFocus();
}

void MainWindow::ShowProblem(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, "Lunabrik", text, QMessageBox::Ok, this);
    box->setObjectName("typingProblem");
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this] { ReturnFocus(); });
    box->open();
}

// --- Ending ------------------------------------------------------------------------------------

// Quit and the close box end the program the same way.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shut_down_ && isVisible()) {
        SaveWindowState(saveGeometry(), isFullScreen());
        SaveScale(scale_);
    }
    if (!shut_down_ && SystemRunning() && !SaveForResume()) {
        event->ignore(); // the machine keeps running, its program kept
        return;
    }
    Shutdown();
    event->accept();
}

// The system stops the machine's threads: the processor sees QUIT before every instruction and
// during its pacing wait, so this is prompt whatever it is doing, HALT and stalls included.
void MainWindow::Shutdown() {
    shut_down_ = true;
    typing_timer_.stop();
    ready_timer_.stop();
    status_timer_.stop();
    rewind_timer_.stop();
    SystemStop();
    SystemSetTurbo(false);
}
