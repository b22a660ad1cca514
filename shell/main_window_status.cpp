// The main window's status bar: the speed reached (or Paused, Turbo), the keyboard mode, and
// messages: start-up notices, what typing is doing, host file warnings. Messages go after a few
// seconds; the fields take short forms when the picture is at 1x, so the bar fits the window.
#include "shell/main_window.h"

#include "shell/display_widget.h"
#include "system/system.h"

#include <QLabel>
#include <QTimer>

namespace {

constexpr int MessageMilliseconds = 6000;

} // namespace

bool MainWindow::ShortStatus() const { return display_->Factor() <= 1; }

// A message in one of the bar's message fields; it goes after a few seconds unless `lasting` (a
// paste under way). The field never widens the window: what does not fit is cut, and the whole
// text is its tool tip.
void MainWindow::ShowMessage(QLabel* field, const QString& text, bool lasting) {
    field->setText(text);
    field->setToolTip(text);
    field->show();
    auto* fade = field->findChild<QTimer*>("fade");
    if (!fade) {
        fade = new QTimer(field);
        fade->setObjectName("fade");
        fade->setSingleShot(true);
        connect(fade, &QTimer::timeout, field, &QWidget::hide);
    }
    if (lasting)
        fade->stop();
    else
        fade->start(MessageMilliseconds);
}

void MainWindow::SetStatusSources(std::function<bool(uint64_t&, uint64_t&)> speed,
                                  std::function<bool(uint32_t&, QString&)> warnings,
                                  std::function<double()> clock) {
    speed_source_ = std::move(speed);
    warning_source_ = std::move(warnings);
    clock_source_ = std::move(clock);
    speed_meter_.Clear();
}

void MainWindow::UpdateStatus() {
    const bool short_form = ShortStatus();
    uint64_t instructions = 0, tstates = 0;
    SpeedFigure figure{};
    if (speed_source_ && speed_source_(instructions, tstates)) {
        speed_meter_.Add(clock_source_ ? clock_source_() : clock_.nsecsElapsed() / 1e9,
                         instructions, tstates);
        if (SystemPaused()) {
            speed_label_->setText(short_form ? "Paused" : "Paused (Pause key resumes)");
            speed_label_->show();
        } else if (speed_meter_.Figure(figure)) {
            const QString speed = QString::fromStdString(SpeedText(figure.percent));
            if (SystemTurbo())
                speed_label_->setText("Turbo " + speed);
            else
                speed_label_->setText(short_form ? speed : "Speed " + speed);
            speed_label_->setToolTip(QString("%1 of a real ABC80's speed, %2 million instructions "
                                             "a second")
                                         .arg(speed)
                                         .arg(figure.mips, 0, 'f', 2));
            speed_label_->show();
        }
    } else {
        speed_label_->hide();
    }
    ShowKeyboardMode();
    uint32_t count = 0;
    QString text;
    if (warning_source_ && warning_source_(count, text) && count != warnings_seen_) {
        warnings_seen_ = count;
        ShowMessage(warning_label_,
                    count == 1
                        ? QString("Host file warning: %1").arg(text)
                        : QString("Host file warnings: %1, the latest: %2").arg(count).arg(text));
    }
}
