// The main window: the display in a sunken frame on the left, the About, Config, Reset and Quit
// buttons on the right. It owns the three threads' lifetimes: the RenderThread and the 20 ms tick
// from its creation, the ProcessorThread from StartProcessor(), all ended by closing the window.
#pragma once

#include "display/render_event.h"

#include <QTimer>
#include <QWidget>

#include <thread>

class DisplayWidget;
class QFrame;
class QPushButton;

class MainWindow : public QWidget {
  public:
    // font_loaded: start-up built the character generator, so the display and the tick can run.
    explicit MainWindow(bool font_loaded);
    ~MainWindow() override;

    // Starts the ProcessorThread; call after the window is shown and the processor reset.
    void StartProcessor();

    // True when the display set-up succeeded: the character generator is built and the tick runs.
    bool DisplayRunning() const { return tick_timer_.isActive(); }
    // True from StartProcessor() until the window closes and the ProcessorThread is joined.
    bool ProcessorRunning() const { return processor_thread_.joinable(); }

    DisplayWidget* Display() const { return display_; }
    QPushButton* AboutButton() const { return about_; }
    QPushButton* ConfigButton() const { return config_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* QuitButton() const { return quit_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void SetUpDisplay(bool font_loaded);
    void Tick();
    void Shutdown();

    QFrame* frame_;
    DisplayWidget* display_;
    QPushButton* about_;
    QPushButton* config_;
    QPushButton* reset_;
    QPushButton* quit_;
    QTimer tick_timer_;
    RenderEvent render_event_;
    std::thread render_thread_;
    std::thread processor_thread_;
};
