// The Config dialog: the two settings, waitstates and the files folder. Apply puts the fields in
// force at once; OK also writes Lunabrik.cfg; Cancel keeps what an earlier Apply put in force.
#pragma once

#include <QDialog>

#include <memory>

class QComboBox;
class QLabel;

namespace Ui {
class ConfigDialog;
}

class ConfigDialog : public QDialog {
  public:
    explicit ConfigDialog(QWidget* parent = nullptr);
    ~ConfigDialog() override;

    // Reads the fields into the settings: waitstates by the decimal rule, the folder (when its
    // field was edited) as UTF-8 cut to the 255 bytes the settings hold, the keyboard mode into
    // the shell's preferences.
    // A waitstates value that would take more than a second per instruction on this host is
    // taken only when the user confirms it; false when they did not (nothing is taken then).
    bool TakeFields();
    void ChooseFolder();
    void Ok();

    // The dialog's widgets, for tests.
    Ui::ConfigDialog& Widgets() { return *ui_; }
    QComboBox* SpeedChoice() const { return speed_; }
    QLabel* Meaning() const { return meaning_; }
    QComboBox* KeyboardChoice() const { return keyboard_; }

    // Idle iterations per second on this host (measured at the first dialog); tests set their own.
    void SetIdleRate(double per_second) { idle_rate_ = per_second; }

    // Selects the entry of a speed (speed_choice.h) in the list, as a user would.
    void ChooseSpeedEntry(int speed);

  private:
    void SpeedChosen(int index);
    void WaitstatesEdited();
    int SpeedOfEntry(int index) const;

    std::unique_ptr<Ui::ConfigDialog> ui_;
    QComboBox* speed_;
    QLabel* meaning_;
    QComboBox* keyboard_;
    QString shown_folder_; // the folder field as last taken: unchanged, the folder's bytes stay
    double idle_rate_;
    int percent_;     // the share of a real ABC80 a real pace runs at, as the list shows it
    int shown_speed_; // the speed when the dialog opened
};

// What a waitstates value of Lunabrik.cfg means, in words, on this host (percent: how fast a real
// pace runs).
QString WaitstatesMeaning(int32_t waitstates, double idle_per_second, int percent = 100);
// Idle iterations of the processor's pacing wait per second on this host, measured once (a few
// milliseconds) and remembered.
double IdleIterationsPerSecond();
// The seconds one instruction takes with this many idle iterations before it.
inline double SecondsPerInstruction(int32_t waitstates, double idle_per_second) {
    return waitstates > 0 ? waitstates / idle_per_second : 0;
}

// Runs the dialog modally over the main window; emulation and ticks go on meanwhile.
void RunConfigDialog(QWidget* parent);
