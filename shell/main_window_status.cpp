// The main window's status bar: the speed reached, host file warnings, and what typing is doing.
#include "shell/main_window.h"

#include "system/system.h"

#include <QLabel>

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
        if (SystemPaused()) {
            speed_label_->setText("Paused (Pause key resumes)");
            speed_label_->show();
        } else if (speed_meter_.Figure(figure)) {
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
