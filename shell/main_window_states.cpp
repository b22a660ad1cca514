// Saved states in the window: File > Save state / Load state, the quick slots, resuming where the
// user left off, and Machine > Rewind. The machine's side is system/state.h and system/rewind.h;
// this file only chooses files, asks, and says what happened.
#include "shell/main_window.h"

#include "host/data_folder.h"
#include "shell/preferences.h"
#include "system/rewind.h"
#include "system/state.h"
#include "system/system.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPixmap>
#include <QProxyStyle>

#include <cstdio>

namespace {

constexpr int QuickSlots = 4;
constexpr int ThumbnailPixels = 96; // the quick slots' pictures in their menus
constexpr int RewindPollMs = 20;    // how often the window looks whether a second has passed
constexpr const char* ResumeFile = "resume.lbs";

// Menus whose entries show a thumbnail of the screen rather than a small icon.
class ThumbnailMenuStyle : public QProxyStyle {
  public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_SmallIconSize) return ThumbnailPixels;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QString Native(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }

std::string Path(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString QuickSlotPath(int slot) {
    return MainWindow::StatesFolder() + QString("/quick-%1%2").arg(slot).arg(StateFileExtension);
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

QString MainWindow::StatesFolder() {
    const std::string user = UserDataFolder();
    const QString base = user.empty() ? QDir::currentPath() : Native(user);
    return base + "/States";
}

void MainWindow::BuildStateMenus(QMenu* file) {
    AddMenuAction(file, "saveState", "Sa&ve state...", {}, [this] { ChooseStateToSave(); });
    AddMenuAction(file, "loadState", "&Load state...", {}, [this] { ChooseStateToLoad(); });
    // Quick slots on F5-F8 (load) and Shift+F5-F8 (save): keys the ABC80 keyboard has no code for.
    for (bool save : {true, false}) {
        QMenu* menu = file->addMenu(save ? "&Quick save" : "Q&uick load");
        menu->setObjectName(save ? "quickSaveMenu" : "quickLoadMenu");
        auto* style = new ThumbnailMenuStyle;
        style->setParent(menu); // a widget does not own the style it is given
        menu->setStyle(style);
        for (int slot = 1; slot <= QuickSlots; ++slot) {
            const QKeySequence key(save ? Qt::SHIFT | (Qt::Key_F4 + slot) : Qt::Key_F4 + slot);
            const QByteArray name =
                QString(save ? "quickSave%1" : "quickLoad%1").arg(slot).toLatin1();
            AddMenuAction(menu, name.constData(), QString("Slot &%1").arg(slot), {key},
                          [this, save, slot] {
                              if (save)
                                  SaveStateTo(QuickSlotPath(slot));
                              else
                                  LoadStateFrom(QuickSlotPath(slot));
                          });
        }
        connect(menu, &QMenu::aboutToShow, this, [this] { ShowQuickSlots(); });
        connect(menu, &QMenu::aboutToHide, this, [this] { ReturnFocus(); });
    }
    QAction* resume = AddMenuAction(file, "resume", "Resume where I &left off", {},
                                    [this] { SaveResume(Action("resume")->isChecked()); });
    resume->setCheckable(true);
    resume->setChecked(SavedResume());
    resume->setToolTip("Save the machine at Quit and load it at the next start");
    file->addSeparator();

    rewind_timer_.setInterval(RewindPollMs);
    connect(&rewind_timer_, &QTimer::timeout, this, [] {
        if (SystemRunning() && !SystemPaused()) RewindPoll();
    });
    rewind_timer_.start();
    ShowQuickSlots();
}

// Each quick slot's entries show when it was saved and the screen then; an empty slot says so.
void MainWindow::ShowQuickSlots() {
    for (int slot = 1; slot <= QuickSlots; ++slot) {
        StateSummary summary;
        std::string error;
        const bool saved = ReadStateSummary(Path(QuickSlotPath(slot)), summary, error);
        QIcon icon;
        QString when = "empty";
        if (saved) {
            when = QDateTime::fromSecsSinceEpoch(summary.saved_at).toString("yyyy-MM-dd HH:mm:ss");
            if (summary.has_picture) {
                QImage image(&summary.picture[0][0], FramePixels, FrameLines, FrameLineBytes,
                             QImage::Format_Mono);
                image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
                icon = QIcon(QPixmap::fromImage(image.scaled(ThumbnailPixels, ThumbnailPixels,
                                                             Qt::IgnoreAspectRatio,
                                                             Qt::SmoothTransformation)));
            }
        } else if (QFileInfo::exists(QuickSlotPath(slot))) {
            when = "cannot be read: " + Native(error);
        }
        for (const char* kind : {"quickSave%1", "quickLoad%1"}) {
            QAction* a = Action(QString(kind).arg(slot).toLatin1().constData());
            a->setText(QString("Slot &%1: %2").arg(slot).arg(when));
            a->setIcon(icon);
        }
        Action(QString("quickLoad%1").arg(slot).toLatin1().constData())->setEnabled(saved);
    }
}

void MainWindow::ChooseStateToSave() {
    QDir().mkpath(StatesFolder());
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd-HHmmss");
    QString path = QFileDialog::getSaveFileName(
        this, "Save state", StatesFolder() + "/lunabrik-" + stamp + StateFileExtension,
        QString("Lunabrik states (*%1)").arg(StateFileExtension));
    ReturnFocus();
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += StateFileExtension;
    SaveStateTo(path);
}

void MainWindow::ChooseStateToLoad() {
    const QString path = QFileDialog::getOpenFileName(
        this, "Load state", StatesFolder(),
        QString("Lunabrik states (*%1);;All files (*)").arg(StateFileExtension));
    ReturnFocus();
    if (!path.isEmpty()) LoadStateFrom(path);
}

bool MainWindow::SaveStateTo(const QString& path) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        ShowMessage(notice_label_, QString("Cannot save the state: cannot make the folder %1")
                                       .arg(QFileInfo(path).absolutePath()));
        return false;
    }
    const StateResult r = SystemSaveState(Path(path));
    ShowMessage(notice_label_, ResultText(r, path));
    notice_label_->setToolTip(Native(r.message));
    ShowQuickSlots();
    return r.ok;
}

// A state saved with other ROM images is loaded only when the user says so.
bool MainWindow::LoadStateFrom(const QString& path) {
    StateResult r = SystemLoadState(Path(path), false);
    if (!r.ok && r.other_roms) {
        QMessageBox box(QMessageBox::Question, "Lunabrik",
                        QString("%1 was saved with other ROM images than basic.rom and dev_dos.rom "
                                "here. Loaded into these, the program in it may not run.\n\nLoad "
                                "it anyway?")
                            .arg(QFileInfo(path).fileName()),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName("otherRoms");
        box.setDefaultButton(QMessageBox::No);
        const bool yes = box.exec() == QMessageBox::Yes;
        ReturnFocus();
        if (!yes) {
            ShowMessage(notice_label_, "State not loaded");
            return false;
        }
        r = SystemLoadState(Path(path), true);
    }
    ShowMessage(notice_label_, ResultText(r, path));
    notice_label_->setToolTip(Native(r.message));
    if (!r.ok) return false;
    FollowLoadedTyping();
    RewindClear();
    speed_meter_.Clear();
    UpdateStatus();
    return true;
}

// One second of the machine's time back per press, paused there; a held key repeats.
void MainWindow::Rewind() {
    if (!SystemPaused()) {
        SystemPause(true);
        Action("pause")->setChecked(true);
    }
    const uint64_t before = SystemReadCounts().ticks;
    if (RewindStepBack()) {
        FollowLoadedTyping();
        const double back = double(before - SystemReadCounts().ticks) / 50.0;
        ShowMessage(notice_label_,
                    QString("Rewound %1 s; %2 s more kept (host files are not rewound)")
                        .arg(back, 0, 'f', 1)
                        .arg(double(RewindSpanTicks()) / 50.0, 0, 'f', 0));
    } else {
        ShowMessage(notice_label_, "Nothing earlier kept to rewind to");
    }
    UpdateStatus();
}

void MainWindow::ResumeIfWanted() {
    const QString path = StatesFolder() + "/" + ResumeFile;
    if (SavedResume() && QFileInfo::exists(path)) LoadStateFrom(path);
}

// At Quit, with "Resume where I left off" on. A save that fails (a full disk, a size limit) says
// why and asks before quitting, since the machine in memory would be lost: true to quit.
bool MainWindow::SaveForResume() {
    if (!SavedResume()) return true;
    const QString path = StatesFolder() + "/" + ResumeFile;
    QDir().mkpath(StatesFolder());
    const StateResult r = SystemSaveState(Path(path));
    if (r.ok) return true;
    std::fprintf(stderr, "Lunabrik: %s\n", r.message.c_str());
    ShowMessage(notice_label_, ResultText(r, path));
    QMessageBox box(QMessageBox::Warning, "Lunabrik",
                    QString("The machine could not be saved for the next start:\n%1\n\nQuit "
                            "anyway? What is in the machine now will be lost.")
                        .arg(Native(r.message)),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("resumeSaveFailed");
    box.button(QMessageBox::Yes)->setText("Quit anyway");
    box.button(QMessageBox::No)->setText("Keep running");
    box.setDefaultButton(QMessageBox::No);
    const bool quit = box.exec() == QMessageBox::Yes;
    ReturnFocus();
    return quit;
}
