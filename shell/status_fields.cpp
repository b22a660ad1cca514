#include "shell/status_fields.h"

#include "shell/display_widget.h"
#include "shell/emulation_driver.h"
#include "shell/speed_choice.h"
#include "shell/status_sources.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MessageMilliseconds = 6000;
constexpr int StatusMilliseconds = 250;

QString KeyboardModeText(KeyboardMode mode, bool short_form) {
    if (short_form) return mode == KeyboardMode::Natural ? "As typed" : "Swedish keys";
    return mode == KeyboardMode::Natural ? "Keyboard: as typed" : "Keyboard: Swedish positions";
}

} // namespace

// A share of a real ABC80 that the machine keeps reads as that share, steadily (the figure over a
// second wavers by a tick's T-states); one the host cannot keep says what it reaches.
QString ChosenSpeedText(int chosen, double reached, bool short_form) {
    const QString set = QString("%1 %").arg(chosen);
    QString text = std::abs(reached - chosen) <= std::max(2.0, chosen * 0.03)
                       ? set
                       : QString("%1 of %2").arg(QString::fromStdString(SpeedText(reached)), set);
    return short_form ? text : "Speed " + text;
}

StatusFields::StatusFields(QStatusBar* bar, DisplayWidget* display,
                           const EmulationDriver* emulation)
    : QObject(bar), display_(display), emulation_(emulation) {
    // Messages share what the permanent fields leave and never widen the window.
    auto field = [bar](const char* name, bool permanent) {
        auto* label = new QLabel(bar);
        label->setObjectName(name);
        if (permanent) {
            bar->addPermanentWidget(label);
        } else {
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            bar->addWidget(label, 1);
        }
        return label;
    };
    notice_ = field("notice", false);
    typing_ = field("typing", false);
    warning_ = field("hostFileWarning", false);
    speed_ = field("speed", true);
    mode_ = field("keyboardMode", true);
    for (QLabel* label : {typing_, warning_, speed_, notice_})
        label->hide();
    bar->setSizeGripEnabled(true);

    speed_source_ = ReadSpeedSample;
    speed_choice_ = CurrentSpeed;
    warning_source_ = ReadHostFileWarning;
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, &StatusFields::Update);
    timer_.start(StatusMilliseconds);
}

bool StatusFields::ShortForm() const { return display_->Factor() <= 1; }

// A message in one of the bar's message fields; it goes after a few seconds unless `lasting`. The
// field never widens the window: what does not fit is cut, and the whole text is its tool tip.
void StatusFields::Show(QLabel* field, const QString& text, bool lasting) {
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

void StatusFields::Notice(const QString& text, const QString& tool_tip) {
    Show(notice_, text, false);
    if (!tool_tip.isEmpty()) notice_->setToolTip(tool_tip);
}

void StatusFields::TypingMessage(const QString& text, bool lasting) {
    Show(typing_, text, lasting);
}

void StatusFields::SetSources(std::function<bool(uint64_t&, uint64_t&)> speed,
                              std::function<bool(uint32_t&, QString&)> warnings,
                              std::function<double()> clock) {
    speed_source_ = std::move(speed);
    warning_source_ = std::move(warnings);
    clock_source_ = std::move(clock);
    meter_.Clear();
}

void StatusFields::Update() {
    const bool short_form = ShortForm();
    uint64_t instructions = 0, tstates = 0;
    SpeedFigure figure{};
    if (speed_source_ && speed_source_(instructions, tstates)) {
        meter_.Add(clock_source_ ? clock_source_() : clock_.nsecsElapsed() / 1e9, instructions,
                   tstates);
        if (emulation_->Paused()) {
            speed_->setText(short_form ? "Paused" : "Paused (Pause key resumes)");
            speed_->show();
        } else if (meter_.Figure(figure)) {
            const QString speed = QString::fromStdString(SpeedText(figure.percent));
            const int chosen = speed_choice_ ? speed_choice_() : IdleIterationsSpeed;
            if (emulation_->Turbo())
                speed_->setText("Turbo " + speed);
            else if (chosen == FastestSpeed)
                speed_->setText(short_form ? speed : "Fastest " + speed);
            else if (chosen > 0)
                speed_->setText(ChosenSpeedText(chosen, figure.percent, short_form));
            else
                speed_->setText(short_form ? speed : "Speed " + speed);
            speed_->setToolTip(QString("%1 of a real ABC80's speed, %2 million instructions "
                                       "a second")
                                   .arg(speed)
                                   .arg(figure.mips, 0, 'f', 2));
            speed_->show();
        }
    } else {
        speed_->hide();
    }
    ShowKeyboardMode();
    uint32_t count = 0;
    QString text;
    if (warning_source_ && warning_source_(count, text) && count != warnings_seen_) {
        warnings_seen_ = count;
        Show(warning_,
             count == 1 ? QString("Host file warning: %1").arg(text)
                        : QString("Host file warnings: %1, the latest: %2").arg(count).arg(text),
             false);
    }
}

void StatusFields::ShowKeyboardMode() {
    mode_->setText(KeyboardModeText(display_->Mode(), ShortForm()));
}
