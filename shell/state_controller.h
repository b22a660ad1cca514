// Saved states in the window: File > Save state / Load state, the quick slots, resuming where the
// user left off, and Machine > Rewind. The machine's side is system/state.h and system/rewind.h;
// this class only chooses files, asks, and says what happened.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>

class DisplayWidget;
class EmulationDriver;
class StatusFields;
class TypingController;
class QWidget;

class StateController : public QObject {
    Q_OBJECT

  public:
    static constexpr int QuickSlots = 4;
    static constexpr int ThumbnailPixels = 96; // the quick slots' pictures in their menus

    // window: the parent of the dialogs and questions; the others are told what a load changed.
    StateController(QWidget* window, DisplayWidget* display, StatusFields* status,
                    TypingController* typing, EmulationDriver* emulation);

    // States go to States/ in the per-user data folder by default; the status bar says what was
    // done. Loading a state saved with other ROM images asks first.
    bool SaveStateTo(const QString& path);
    bool LoadStateFrom(const QString& path);
    void ChooseStateToSave();
    void ChooseStateToLoad();
    void QuickSave(int slot);
    void QuickLoad(int slot);
    // One second of the machine's time back per call, paused there.
    void Rewind();
    static QString StatesFolder();

    // What a quick slot (1 to QuickSlots) holds: when it was saved ("empty", or why it cannot be
    // read) and a thumbnail of the screen then.
    struct Slot {
        QString when;
        QIcon picture;
        bool saved = false;
    };
    static Slot QuickSlot(int slot);

    // "Resume where I left off": loads the state saved at the last Quit (call after the machine
    // started); one that cannot be loaded gives a fresh start and says why, never a question.
    void ResumeIfWanted();
    // At Quit, with "Resume where I left off" on: true to quit (saved, or the user said so).
    bool SaveForResume();
    void Stop() { rewind_timer_.stop(); }

  signals:
    // A quick slot was written: the menus show it afresh.
    void SlotsChanged();

  private:
    void AfterLoad(); // the window follows a machine just loaded

    QWidget* window_;
    DisplayWidget* display_;
    StatusFields* status_;
    TypingController* typing_;
    EmulationDriver* emulation_;
    QTimer rewind_timer_; // takes rewind's state once a second of the machine's time
};
