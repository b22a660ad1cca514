#include "shell/typing_controller.h"

#include "shell/display_widget.h"
#include "shell/status_fields.h"
#include "shell/typed_file.h"
#include "shell/window_focus.h"
#include "system/pacer.h"
#include "system/screen_copy.h"
#include "system/system.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

#include <memory>
#include <string>

namespace {
constexpr int TypingStatusMilliseconds = 50;
} // namespace

TypingController::TypingController(QWidget* window, DisplayWidget* display, StatusFields* status)
    : QObject(window), window_(window), display_(display), status_(status) {
    timer_.setInterval(TypingStatusMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &TypingController::ShowTyping);
}

void TypingController::Stop() {
    timer_.stop();
    ready_timer_.stop();
}

void TypingController::TypeText(const QByteArray& utf8, const QString& what) {
    std::string codes;
    const size_t skipped = TextToCodes(utf8.constData(), size_t(utf8.size()), codes);
    if (codes.empty()) {
        status_->TypingMessage(
            skipped ? QString("%1: nothing to type, %2 characters with no ABC80 character")
                          .arg(what)
                          .arg(skipped)
                    : QString("%1: nothing to type").arg(what));
        return;
    }
    PacerType(codes, what.toStdString(), skipped);
    typing_ = true;
    emit TypingChanged(true);
    ShowTyping();
    timer_.start();
}

// The status bar follows the pacer's own report: the text under way and the keys waiting behind
// it, then what became of it.
void TypingController::ShowTyping() {
    const PacerTypingReport report = PacerTypingStatus("Esc cancels");
    typing_ = report.typing;
    if (!report.text.empty())
        status_->TypingMessage(QString::fromStdString(report.text), report.typing);
    if (!report.typing) {
        timer_.stop();
        emit TypingChanged(false);
    }
}

void TypingController::CancelTyping() {
    if (!Typing()) return;
    PacerCancelText();
    ShowTyping();
}

// A state was loaded: the text on its way is the state's (typing on from where it was saved), and
// the status bar and Esc follow that one instead of what the window had handed over before. Keys
// held in the state are let go of once the machine has taken them.
void TypingController::FollowLoadedTyping() {
    PacerReleaseHeld(); // keys the state holds down are not down on this keyboard now
    ShowTyping();
    if (!typing_) return;
    timer_.start();
    emit TypingChanged(true);
}

bool TypingController::TypeFile(const QString& path) {
    QByteArray text;
    QString error;
    qsizetype latin1 = 0;
    if (!ReadTextForTyping(path, text, error, &latin1)) {
        ShowProblem(window_, display_, error);
        return false;
    }
    QString what = QFileInfo(path).fileName();
    if (latin1 > 0)
        what += QString(" (%1 %2 not UTF-8, read as Latin-1)")
                    .arg(latin1)
                    .arg(latin1 == 1 ? "byte" : "bytes");
    TypeText(text, what);
    RememberProgram(path);
    return true;
}

// The machine waits for input once its screen has stopped changing for half a second after
// start-up (the ROM has printed its greeting and prompt); ten seconds at most.
void TypingController::TypeFileWhenReady(const QString& path, bool run) {
    auto last = std::make_shared<std::string>();
    auto steady = std::make_shared<int>(0);
    auto waited = std::make_shared<int>(0);
    ready_timer_.setInterval(100);
    connect(&ready_timer_, &QTimer::timeout, this, [=, this] {
        const std::string screen = SystemScreenText();
        const bool blank = screen.find_first_not_of('\n') == std::string::npos;
        *steady = (!blank && screen == *last) ? *steady + 1 : 0;
        *last = screen;
        if (*steady >= 5 || ++*waited >= 100) {
            ready_timer_.stop();
            ready_timer_.disconnect();
            if (TypeFile(path) && run) TypeText("RUN\n", "RUN");
        }
    });
    ready_timer_.start();
}

void TypingController::Paste() {
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty()) {
        status_->TypingMessage("Paste: the clipboard holds no text");
        return;
    }
    TypeText(text.toUtf8(), "Paste");
}

void TypingController::CopyScreen() {
    QApplication::clipboard()->setText(QString::fromStdString(SystemCopyScreen()));
}

void TypingController::CopySelection(const QString& text) {
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->setText(text);
    if (clipboard->supportsSelection()) clipboard->setText(text, QClipboard::Selection);
    const qsizetype lines = text.count('\n') + 1;
    status_->TypingMessage(
        text.isEmpty()
            ? QString("Copied a blank selection")
            : QString("Copied %1 line%2 of the screen").arg(lines).arg(lines == 1 ? "" : "s"));
}

void TypingController::PasteSelection() {
    QClipboard* clipboard = QApplication::clipboard();
    if (!clipboard->supportsSelection()) return;
    const QString text = clipboard->text(QClipboard::Selection);
    if (text.isEmpty()) {
        status_->TypingMessage("Paste: the selection holds no text");
        return;
    }
    TypeText(text.toUtf8(), "Paste");
}

// The files typed in lately, newest first, kept with the window's preferences.
namespace {
constexpr int RecentLimit = 8;
constexpr const char* RecentKey = "recentPrograms";
} // namespace

QStringList TypingController::RecentPrograms() {
    return QSettings("Lunabrik", "Lunabrik").value(RecentKey).toStringList();
}

void TypingController::RememberProgram(const QString& path) {
    QStringList recent = RecentPrograms();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    while (recent.size() > RecentLimit)
        recent.removeLast();
    QSettings("Lunabrik", "Lunabrik").setValue(RecentKey, recent);
}

void TypingController::ChooseFileToType() {
    const QString path = QFileDialog::getOpenFileName(window_, "Type in file", QString(),
                                                      "BASIC and text files (*.bas *.BAS *.txt "
                                                      "*.TXT);;All files (*)");
    ReturnFocus(display_);
    if (!path.isEmpty()) TypeFile(path);
}

void TypingController::DropFiles(const QList<QUrl>& urls) {
    if (urls.size() != 1 || !urls.first().isLocalFile()) {
        ShowProblem(window_, display_, "Drop one text file from this computer to type it in.");
        return;
    }
    TypeFile(urls.first().toLocalFile());
}
