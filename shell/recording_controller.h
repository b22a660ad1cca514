// Recorded sessions in the window: Machine > Record (and Stop recording) and Machine > Play (and
// Stop playing). The machine's side is system/recording.h; this class only chooses files, asks,
// and says in the status bar what happened and how far a recording or replay has got.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class DisplayWidget;
class StatusFields;
class TypingController;
class QAction;
class QWidget;

class RecordingController : public QObject {
  public:
    RecordingController(QWidget* window, DisplayWidget* display, StatusFields* status,
                        TypingController* typing);

    // The menu's two entries, whose texts and checks follow what is under way.
    void SetActions(QAction* record, QAction* play);
    // Starts a recording into a file the user names, or ends the one under way.
    void ToggleRecording();
    bool StartRecording(const QString& path);
    // Plays a recording the user chooses, or stops the replay under way.
    void TogglePlaying();
    bool Play(const QString& path);
    // Recordings go to Recordings/ beside the saved states by default.
    static QString RecordingsFolder();

  private:
    void Follow(); // the entries and the status bar, while something is under way

    QWidget* window_;
    DisplayWidget* display_;
    StatusFields* status_;
    TypingController* typing_;
    QAction* record_ = nullptr;
    QAction* play_ = nullptr;
    QTimer timer_; // runs only while a recording or replay is under way
};
