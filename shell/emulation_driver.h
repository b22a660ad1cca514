// The window's side of the machine's threads: starting and stopping them, pause, turbo, reset and
// power cycling. The machine runs on its own threads behind the system interface; this class only
// asks it, and tells the window when the pace changed so the speed figure starts afresh.
#pragma once

#include <QObject>

class DisplayWidget;

class EmulationDriver : public QObject {
    Q_OBJECT

  public:
    // font_loaded: start-up built the character generator, so the display and the tick can run.
    EmulationDriver(bool font_loaded, QObject* parent);
    ~EmulationDriver() override;

    // Starts the processor, renderer and clock threads, the renderer drawing into display.
    void Start(DisplayWidget* display);
    // Stops the threads (prompt whatever the processor does) and drops turbo; idempotent.
    void Stop();
    // True from Start() until Stop().
    bool Running() const;
    // True when the character generator is built, so the clock ticks and the screen is drawn.
    bool DisplayRunning() const { return font_loaded_; }

    bool Paused() const;
    void SetPaused(bool paused);
    // Turbo runs while the menu's toggle is on or the turbo key is held.
    bool Turbo() const;
    void SetTurboChosen(bool on);
    void SetTurboHeld(bool held);

    void Reset();
    // As switching a real ABC80 off and on: the images loaded and memory filled afresh, rewind's
    // past dropped and the machine running. False with the image that failed in *missing.
    bool PowerCycle(const char** missing);

  signals:
    void PauseChanged(bool paused);
    // Turbo went on or off, or the machine was replaced: a speed figure from before is wrong.
    void PaceChanged();

  private:
    void ApplyTurbo();

    bool font_loaded_;
    bool turbo_chosen_ = false;
    bool turbo_held_ = false;
};
