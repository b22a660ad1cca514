// The main window's status bar: the speed reached (or Paused, Turbo), the keyboard mode, and
// messages: start-up notices, what typing is doing, host file warnings. Messages go after a few
// seconds; the fields take short forms when the picture is at 1x, so the bar fits the window.
#pragma once

#include "shell/speed_meter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

class DisplayWidget;
class EmulationDriver;
class QLabel;
class QStatusBar;

// The speed field's text for a chosen share of a real ABC80 and the share reached.
QString ChosenSpeedText(int chosen, double reached, bool short_form);

class StatusFields : public QObject {
    Q_OBJECT

  public:
    // The fields go into bar; display gives the keyboard mode and the picture's scale, emulation
    // whether the machine is paused or in turbo.
    StatusFields(QStatusBar* bar, DisplayWidget* display, const EmulationDriver* emulation);

    QLabel* SpeedField() const { return speed_; }
    QLabel* KeyboardField() const { return mode_; }
    QLabel* NoticeField() const { return notice_; }
    QLabel* TypingField() const { return typing_; }
    QLabel* WarningField() const { return warning_; }

    // A message in the notice field (the tool tip, when given, holds more than the text).
    void Notice(const QString& text, const QString& tool_tip = {});
    // A message about typing; lasting ones (a paste under way) stay until replaced.
    void TypingMessage(const QString& text, bool lasting = false);

    // Where the figures come from (tests give fakes). clock: seconds on a steady clock for the
    // speed samples (default: the bar's own).
    // The speed chosen (speed_choice.h: a percent, FastestSpeed, IdleIterationsSpeed).
    void SetSpeedChoiceSource(std::function<int()> source) { speed_choice_ = std::move(source); }
    void SetSources(std::function<bool(uint64_t&, uint64_t&)> speed,
                    std::function<bool(uint32_t&, QString&)> warnings,
                    std::function<double()> clock = {});
    // The speed figure starts afresh: the pace changed, or the machine was replaced.
    void RestartSpeed() { meter_.Clear(); }
    void Update();
    // The keyboard field after the mode changed (Update shows it too).
    void ShowKeyboardMode();
    void Stop() { timer_.stop(); }

  private:
    bool ShortForm() const;
    void Show(QLabel* field, const QString& text, bool lasting);

    DisplayWidget* display_;
    const EmulationDriver* emulation_;
    QLabel* speed_;
    QLabel* mode_;
    QLabel* notice_;
    QLabel* typing_;
    QLabel* warning_;
    QTimer timer_;
    QElapsedTimer clock_;
    SpeedMeter meter_;
    std::function<bool(uint64_t&, uint64_t&)> speed_source_;
    std::function<bool(uint32_t&, QString&)> warning_source_;
    std::function<double()> clock_source_;
    std::function<int()> speed_choice_;
    uint32_t warnings_seen_ = 0;
};
