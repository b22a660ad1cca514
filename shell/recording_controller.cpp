#include "shell/recording_controller.h"

#include "shell/state_controller.h"
#include "shell/status_fields.h"
#include "shell/typing_controller.h"
#include "shell/window_focus.h"
#include "system/recording.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

constexpr int FollowMs = 250; // how often the status bar shows the progress

QString Native(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }
std::string Path(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The core's one-line message with the file named without its folder, no final point.
QString Short(const std::string& message, const QString& path) {
    QString text = Native(message);
    text.replace(path, QFileInfo(path).fileName());
    if (text.endsWith('.')) text.chop(1);
    return text;
}

} // namespace

QString RecordingController::RecordingsFolder() {
    return QFileInfo(StateController::StatesFolder()).path() + "/Recordings";
}

RecordingController::RecordingController(QWidget* window, DisplayWidget* display,
                                         StatusFields* status, TypingController* typing)
    : QObject(window), window_(window), display_(display), status_(status), typing_(typing) {
    timer_.setInterval(FollowMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Follow(); });
}

void RecordingController::SetActions(QAction* record, QAction* play) {
    record_ = record;
    play_ = play;
    Follow();
}

void RecordingController::ToggleRecording() {
    if (Recording()) {
        std::string message;
        RecordStop(message);
        status_->Notice(Native(message));
        Follow();
        return;
    }
    QDir().mkpath(RecordingsFolder());
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss");
    QString path = QFileDialog::getSaveFileName(
        window_, "Record to", RecordingsFolder() + "/lunabrik-" + stamp + RecordingFileExtension,
        QString("Lunabrik recordings (*%1)").arg(RecordingFileExtension));
    ReturnFocus(display_);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += RecordingFileExtension;
    StartRecording(path);
}

bool RecordingController::StartRecording(const QString& path) {
    std::string message;
    const bool ok = RecordStart(Path(path), message);
    status_->Notice(Short(message, path), Native(message));
    Follow();
    return ok;
}

void RecordingController::TogglePlaying() {
    if (SystemPlaying()) {
        SystemStopPlaying();
        Follow();
        return;
    }
    const QString path = QFileDialog::getOpenFileName(
        window_, "Play recording", RecordingsFolder(),
        QString("Lunabrik recordings (*%1);;All files (*)").arg(RecordingFileExtension));
    ReturnFocus(display_);
    if (!path.isEmpty()) Play(path);
}

// A recording made with other ROM images is played only when the user says so.
bool RecordingController::Play(const QString& path) {
    ReplayResult r = SystemPlay(Path(path), false);
    if (!r.ok && r.other_roms) {
        QMessageBox box(QMessageBox::Question, "Lunabrik",
                        QString("%1 was recorded with other ROM images than basic.rom and "
                                "dev_dos.rom here. Played with these, it may not do what it "
                                "did.\n\nPlay it anyway?")
                            .arg(QFileInfo(path).fileName()),
                        QMessageBox::Yes | QMessageBox::No, window_);
        box.setObjectName("otherRomsRecording");
        box.setDefaultButton(QMessageBox::No);
        const bool yes = box.exec() == QMessageBox::Yes;
        ReturnFocus(display_);
        if (!yes) {
            status_->Notice("Recording not played");
            return false;
        }
        r = SystemPlay(Path(path), true);
    }
    status_->Notice(Short(r.message, path), Native(r.message));
    if (r.ok) typing_->FollowLoadedTyping();
    Follow();
    return r.ok;
}

// While something is under way: its progress in the status bar, and the entries say how to stop
// it. A replay that ended, or a recording that a loaded state cut short, says so once.
void RecordingController::Follow() {
    const bool recording = Recording(), playing = SystemPlaying();
    const std::string notice = RecordTakeNotice();
    if (!notice.empty()) status_->Notice(Native(notice));
    if (recording) {
        const RecordCounts c = RecordReadCounts();
        status_->TypingMessage(QString("Recording: %1 s, %2 key events")
                                   .arg(double(c.ticks) / 50.0, 0, 'f', 0)
                                   .arg(c.keys),
                               true);
    } else if (playing) {
        const ReplayStatus s = ReplayReadStatus();
        status_->TypingMessage(QString("Playing: %1 of %2 s")
                                   .arg(double(s.ticks_done) / 50.0, 0, 'f', 0)
                                   .arg(double(s.ticks_total) / 50.0, 0, 'f', 0),
                               true);
    }
    if (record_) {
        record_->setText(recording ? "Stop r&ecording" : "R&ecord...");
        record_->setEnabled(!playing);
    }
    if (play_) {
        play_->setText(playing ? "Stop p&laying" : "P&lay recording...");
        play_->setEnabled(!recording);
    }
    if (recording || playing) {
        if (!timer_.isActive()) timer_.start();
    } else if (timer_.isActive()) {
        timer_.stop();
        status_->TypingMessage({});
    }
}
