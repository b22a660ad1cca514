#include "shell/main_window.h"

#include "cpu/processor.h"
#include "display/display.h"
#include "machine/control.h"
#include "machine/startup.h"
#include "shell/about_dialog.h"
#include "shell/config_dialog.h"
#include "shell/display_widget.h"

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QPushButton>

namespace {

// Geometry of the client area, in pixels.
constexpr int ClientWidth = 318;
constexpr int ClientHeight = 249;
constexpr int FrameX = 2, FrameY = 2, FrameSize = 245;
constexpr int ButtonX = 250, ButtonWidth = 64, ButtonHeight = 32;
constexpr int TickMilliseconds = 20;

} // namespace

MainWindow::MainWindow(bool font_loaded) {
    setObjectName("Lunabrik");
    setWindowTitle("Lunabrik");
    setWindowIcon(LunabrikIcon());
    setFixedSize(ClientWidth, ClientHeight);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    frame_ = new QFrame(this);
    frame_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame_->setLineWidth(2);
    frame_->setGeometry(FrameX, FrameY, FrameSize, FrameSize);
    display_ = new DisplayWidget(frame_);
    display_->setGeometry(frame_->contentsRect());

    auto button = [this](const char* text, int y) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(ButtonX, y, ButtonWidth, ButtonHeight);
        b->setAutoDefault(false);
        return b;
    };
    about_ = button("About", 2);
    config_ = button("Config", 36);
    reset_ = button("Reset", 70);
    quit_ = button("Quit", 104);

    connect(about_, &QPushButton::clicked, this, [this] { RunAboutDialog(this); });
    connect(config_, &QPushButton::clicked, this, [this] { RunConfigDialog(this); });
    connect(reset_, &QPushButton::clicked, this, [] { SetControlFlags(RESET); });
    connect(quit_, &QPushButton::clicked, this, &QWidget::close);

    SetUpDisplay(font_loaded);
    display_->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow() { Shutdown(); }

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

// Quit and the close box end the program the same way.
void MainWindow::closeEvent(QCloseEvent* event) {
    Shutdown();
    event->accept();
}

// The processor tests QUIT before every instruction and during its pacing wait, so the join is
// prompt whatever it is doing, HALT and stalls included.
void MainWindow::Shutdown() {
    if (processor_thread_.joinable()) {
        SetControlFlags(QUIT);
        processor_thread_.join();
    }
    tick_timer_.stop();
    render_event_.Close();
    if (render_thread_.joinable()) render_thread_.join();
}
