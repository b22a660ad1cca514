// Typing into the machine from the window: paste, typed-in files and dropped text go to the key
// pacer as text, behind every key typed before them; copy puts the screen on the clipboard. The
// status bar follows each text until it is typed to the end or cancelled.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class DisplayWidget;
class StatusFields;
class QUrl;
class QWidget;

class TypingController : public QObject {
    Q_OBJECT

  public:
    // window: the parent of the boxes that say what went wrong; display: gets the keyboard back.
    TypingController(QWidget* window, DisplayWidget* display, StatusFields* status);

    // Text (UTF-8) typed through the key pacer, after every key typed before it; what says where
    // it comes from ("Paste", a file name) in the status bar.
    void TypeText(const QByteArray& utf8, const QString& what);
    // A text file typed in the same way; false (with a message) for a folder, an unreadable,
    // binary or too large file.
    bool TypeFile(const QString& path);
    // Types the file once the machine waits for input after start-up (its screen has settled).
    // run: RUN is typed after it.
    void TypeFileWhenReady(const QString& path, bool run = false);
    void ChooseFileToType();
    void DropFiles(const QList<QUrl>& urls);
    void CancelTyping();
    // A text is under way, as the status bar last showed it (what Esc would cancel).
    bool Typing() const { return typing_; }
    // A state was loaded or rewound to: follow the text the machine now types, if any.
    void FollowLoadedTyping();
    void Stop();

    void Paste();
    void CopyScreen();
    // The mouse: a selected rectangle onto the clipboard and the X11 primary selection, as
    // terminals do; the middle button types the primary selection.
    void CopySelection(const QString& text);
    void PasteSelection();

    // The programs typed in lately, newest first (File > Recent programs).
    static QStringList RecentPrograms();
    static void RememberProgram(const QString& path);

  signals:
    // Whether a text is under way (what Esc would cancel).
    void TypingChanged(bool typing);

  private:
    void ShowTyping();

    QWidget* window_;
    DisplayWidget* display_;
    StatusFields* status_;

    bool typing_ = false;
    QTimer timer_;
    QTimer ready_timer_;
};
