// The Config dialog: the two settings, waitstates and the files folder. Apply puts the fields in
// force at once; OK also writes Lunabrik.cfg; Cancel keeps what an earlier Apply put in force.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ConfigDialog;
}

class ConfigDialog : public QDialog {
  public:
    explicit ConfigDialog(QWidget* parent = nullptr);
    ~ConfigDialog() override;

    // Reads the two fields into the settings: waitstates by the decimal rule, the folder as UTF-8
    // cut to the 255 bytes the settings hold.
    void TakeFields();
    void ChooseFolder();
    void Ok();

    // The dialog's widgets, for tests.
    Ui::ConfigDialog& Widgets() { return *ui_; }

  private:
    std::unique_ptr<Ui::ConfigDialog> ui_;
};

// Runs the dialog modally over the main window; emulation and ticks go on meanwhile.
void RunConfigDialog(QWidget* parent);
