#include "shell/state_controller.h"

#include "shell/emulation_driver.h"
#include "shell/preferences.h"
#include "shell/status_fields.h"
#include "shell/typing_controller.h"
#include "shell/window_focus.h"
#include "system/rewind.h"
#include "system/startup.h"
#include "system/state.h"
#include "system/system.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int RewindPollMs = 20; // how often the window looks whether a second has passed
constexpr const char* ResumeFile = "resume.lbs";
constexpr const char* NotResumedFile = "not-resumed.lbs"; // a resume state that could not be loaded

QString Native(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }

std::string Path(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString QuickSlotPath(int slot) {
    return StateController::StatesFolder() +
           QString("/quick-%1%2").arg(slot).arg(StateFileExtension);
}

// The one-line result for the status bar, naming the file without its folder (the tool tip
// holds the whole text as the core gave it).
QString ResultText(const StateResult& r, const QString& path) {
    QString text = Native(r.message);
    text.replace(path, QFileInfo(path).fileName());
    if (text.endsWith('.')) text.chop(1);
    return text;
}

} // namespace

QString StateController::StatesFolder() {
    const std::string user = SystemUserFolder();
    const QString base = user.empty() ? QDir::currentPath() : Native(user);
    return base + "/States";
}

StateController::StateController(QWidget* window, DisplayWidget* display, StatusFields* status,
                                 TypingController* typing, EmulationDriver* emulation)
    : QObject(window), window_(window), display_(display), status_(status), typing_(typing),
      emulation_(emulation) {
    // The next look when the next state is due: at a real pace the machine's ticks are the
    // host's, so an idle window wakes for this about once a second, not 50 times.
    rewind_timer_.setSingleShot(true);
    rewind_timer_.setTimerType(Qt::CoarseTimer);
    connect(&rewind_timer_, &QTimer::timeout, this, [this] {
        if (SystemRunning() && !SystemPaused()) RewindPoll();
        int ms = SystemPaused() ? 250 : RewindPollMs; // paused: no machine time passes
        if (SystemChosenPace() == -1 && !SystemTurbo() && !SystemPaused())
            ms = int(std::clamp<uint64_t>(RewindTicksUntilDue() * 20 * 100 /
                                              uint64_t(std::max(1, SystemPacePercent())),
                                          RewindPollMs, 1000));
        rewind_timer_.start(ms);
    });
    rewind_timer_.start(RewindPollMs);
}

void StateController::QuickSave(int slot) { SaveStateTo(QuickSlotPath(slot)); }

void StateController::QuickLoad(int slot) { LoadStateFrom(QuickSlotPath(slot)); }

// When a quick slot was saved and the screen then; an empty slot says so.
StateController::Slot StateController::QuickSlot(int slot) {
    Slot s;
    StateSummary summary;
    std::string error;
    s.saved = ReadStateSummary(Path(QuickSlotPath(slot)), summary, error);
    s.when = "empty";
    if (s.saved) {
        s.when = QDateTime::fromSecsSinceEpoch(summary.saved_at).toString("yyyy-MM-dd HH:mm:ss");
        if (summary.has_picture) {
            QImage image(&summary.picture[0][0], FramePixels, FrameLines, FrameLineBytes,
                         QImage::Format_Mono);
            image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
            s.picture = QIcon(
                QPixmap::fromImage(image.scaled(ThumbnailPixels, ThumbnailPixels,
                                                Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        }
    } else if (QFileInfo::exists(QuickSlotPath(slot))) {
        s.when = "cannot be read: " + Native(error);
    }
    return s;
}

void StateController::ChooseStateToSave() {
    QDir().mkpath(StatesFolder());
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss");
    QString path = QFileDialog::getSaveFileName(
        window_, "Save state", StatesFolder() + "/lunabrik-" + stamp + StateFileExtension,
        QString("Lunabrik states (*%1)").arg(StateFileExtension));
    ReturnFocus(display_);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += StateFileExtension;
    SaveStateTo(path);
}

void StateController::ChooseStateToLoad() {
    const QString path = QFileDialog::getOpenFileName(
        window_, "Load state", StatesFolder(),
        QString("Lunabrik states (*%1);;All files (*)").arg(StateFileExtension));
    ReturnFocus(display_);
    if (!path.isEmpty()) LoadStateFrom(path);
}

bool StateController::SaveStateTo(const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        status_->Notice(QString("Cannot save the state: cannot make the folder %1")
                            .arg(QFileInfo(path).absolutePath()));
        return false;
    }
    const StateResult r = SystemSaveState(Path(path));
    status_->Notice(ResultText(r, path), Native(r.message));
    emit SlotsChanged();
    return r.ok;
}

// A state saved with other ROM images is loaded only when the user says so.
bool StateController::LoadStateFrom(const QString& path) {
    StateResult r = SystemLoadState(Path(path), false);
    if (!r.ok && r.other_roms) {
        QMessageBox box(QMessageBox::Question, "Lunabrik",
                        QString("%1 was saved with other ROM images than basic.rom and dev_dos.rom "
                                "here. Loaded into these, the program in it may not run.\n\nLoad "
                                "it anyway?")
                            .arg(QFileInfo(path).fileName()),
                        QMessageBox::Yes | QMessageBox::No, window_);
        box.setObjectName("otherRoms");
        box.setDefaultButton(QMessageBox::No);
        const bool yes = box.exec() == QMessageBox::Yes;
        ReturnFocus(display_);
        if (!yes) {
            status_->Notice("State not loaded");
            return false;
        }
        r = SystemLoadState(Path(path), true);
    }
    status_->Notice(ResultText(r, path), Native(r.message));
    if (!r.ok) return false;
    AfterLoad();
    return true;
}

// One second of the machine's time back per press, paused there; a held key repeats.
void StateController::Rewind() {
    if (!emulation_->Paused()) emulation_->SetPaused(true);
    const uint64_t before = SystemReadCounts().ticks;
    if (RewindStepBack()) {
        typing_->FollowLoadedTyping();
        const double back = double(before - SystemReadCounts().ticks) / 50.0;
        status_->Notice(QString("Rewound %1 s; %2 s more kept (host files are not rewound)")
                            .arg(back, 0, 'f', 1)
                            .arg(double(RewindSpanTicks()) / 50.0, 0, 'f', 0));
    } else {
        status_->Notice("Nothing earlier kept to rewind to");
    }
    status_->Update();
}

// The machine saved at the last Quit goes on where it was. One that cannot be resumed (saved with
// other ROM images, damaged, unreadable) never stops the start: the machine starts afresh, the
// status bar says why, and the file is kept aside (never loaded again by itself) for a load by
// hand.
void StateController::ResumeIfWanted() {
    const QString path = StatesFolder() + "/" + ResumeFile;
    if (!SavedResume() || !QFileInfo(path).isFile()) return;
    const StateResult r = SystemLoadState(Path(path), false);
    if (r.ok) {
        AfterLoad();
        status_->Notice("Resumed where you left off (Machine > Power off and on starts afresh)",
                        Native(r.message));
        return;
    }
    const QString aside = StatesFolder() + "/" + NotResumedFile;
    QFile::remove(aside);
    const bool kept = QFile::rename(path, aside);
    const QString why =
        r.other_roms ? "it was saved with other ROM images" : "the saved machine cannot be read";
    const QString where = kept ? QString(" (kept as %1)").arg(NotResumedFile) : QString();
    std::fprintf(stderr, "Lunabrik: not resumed: %s\n", r.message.c_str());
    status_->Notice(QString("Started afresh: %1%2").arg(why, where), Native(r.message));
}

void StateController::AfterLoad() {
    typing_->FollowLoadedTyping();
    RewindClear();
    status_->RestartSpeed();
    status_->Update();
}

// At Quit, with "Resume where I left off" on. A save that fails (a full disk, a size limit) says
// why and asks before quitting, since the machine in memory would be lost: true to quit.
bool StateController::SaveForResume() {
    if (!SavedResume()) return true;
    const QString path = StatesFolder() + "/" + ResumeFile;
    QDir().mkpath(StatesFolder());
    const StateResult r = SystemSaveState(Path(path));
    if (r.ok) return true;
    std::fprintf(stderr, "Lunabrik: %s\n", r.message.c_str());
    status_->Notice(ResultText(r, path));
    QMessageBox box(QMessageBox::Warning, "Lunabrik",
                    QString("The machine could not be saved for the next start:\n%1\n\nQuit "
                            "anyway? What is in the machine now will be lost.")
                        .arg(Native(r.message)),
                    QMessageBox::Yes | QMessageBox::No, window_);
    box.setObjectName("resumeSaveFailed");
    box.button(QMessageBox::Yes)->setText("Quit anyway");
    box.button(QMessageBox::No)->setText("Keep running");
    box.setDefaultButton(QMessageBox::No);
    const bool quit = box.exec() == QMessageBox::Yes;
    ReturnFocus(display_);
    return quit;
}
