// The main window: menus, the display in a sunken frame with the About, Config, Reset and Quit
// buttons beside it, and a status bar. It starts the machine's threads through the system
// interface (StartProcessor) and stops them when it closes. Its parts live in files of one concern
// each: the window and its lifetime (main_window.cpp), menus and actions (main_window_menus.cpp),
// typing, paste and copy (main_window_typing.cpp), the status bar (main_window_status.cpp), and
// saved states and rewind (main_window_states.cpp).
#pragma once

#include "shell/speed_meter.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <functional>

class DisplayWidget;
class QFrame;
class QLabel;
class DebuggerWindow;
class QMenu;
class QPushButton;

class MainWindow : public QMainWindow {
  public:
    // font_loaded: start-up built the character generator, so the display and the tick can run.
    // notice: what start-up has to tell the user (a missing font.bin), shown in the status bar.
    explicit MainWindow(bool font_loaded, const QString& notice = {});
    ~MainWindow() override;

    // Starts the machine's threads (processor, renderer, clock); call after the window is shown and
    // the machine booted.
    void StartProcessor();

    // True when the display set-up succeeded: the character generator is built, so the clock ticks.
    bool DisplayRunning() const { return font_loaded_; }
    // True from StartProcessor() until the window closes and the threads are joined.
    bool ProcessorRunning() const;

    DisplayWidget* Display() const { return display_; }
    QPushButton* AboutButton() const { return about_; }
    QPushButton* ConfigButton() const { return config_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* QuitButton() const { return quit_; }
    QAction* Action(const char* name) const;

    // Window size and place as the preferences hold them; on the first start the largest scale
    // whose picture fits in three quarters of the screen's height. Call before show().
    void RestoreWindowState();
    // 1-8: the picture at that many device pixels per emulated pixel, the window sized for it;
    // 0: the largest that fits, growing and shrinking with the window.
    void SetScale(int scale);
    int Scale() const { return scale_; }
    void SetFullScreen(bool on);
    static constexpr int MaxScale = 4; // the View menu's scales
    // The scale a first start picks for a screen of this height in device pixels.
    static int FirstStartScale(int screen_device_height);

    // Typing: text (UTF-8) typed through the key pacer, after every key typed before it; what says
    // where it comes from ("Paste", a file name) in the status bar.
    void TypeText(const QByteArray& utf8, const QString& what);
    // A text file typed in the same way; false (with a message) for a folder, an unreadable,
    // binary or too large file.
    bool TypeFile(const QString& path);
    // Types the file once the machine waits for input after start-up (its screen has settled).
    // run: RUN is typed after it.
    void TypeFileWhenReady(const QString& path, bool run = false);
    // The programs typed in lately, newest first (File > Recent programs).
    static QStringList RecentPrograms();
    static void RememberProgram(const QString& path);
    void CancelTyping();
    bool Typing() const;
    void Paste();
    void CopyScreen();
    // The mouse: a selected rectangle onto the clipboard and the X11 primary selection, as
    // terminals do; the middle button types the primary selection; the right one opens a menu.
    void CopySelection(const QString& text);
    void PasteSelection();
    void ShowContextMenu(const QPoint& global);
    // F12: the picture into the user's pictures folder (XDG_PICTURES_DIR, else ~/Pictures) under
    // Lunabrik/, with a time-stamped name; the status bar names the file or the problem.
    void SaveScreenshot();
    static QString ScreenshotFolder();

    // Saved states: File > Save state / Load state, the quick slots (F5-F8 load, Shift+F5-F8
    // save), Machine > Rewind (F4). States go to States/ in the per-user data folder by default;
    // the status bar says what was done. Loading a state saved with other ROM images asks first.
    bool SaveStateTo(const QString& path);
    bool LoadStateFrom(const QString& path);
    void Rewind();
    static QString StatesFolder();
    // "Resume where I left off": loads the state saved at the last Quit (call after
    // StartProcessor); the window saves it when it closes.
    void ResumeIfWanted();

    // The status bar's fields, and its sources (tests give fakes).
    QLabel* SpeedField() const { return speed_label_; }
    QLabel* KeyboardField() const { return mode_label_; }
    QLabel* NoticeField() const { return notice_label_; }
    QLabel* TypingField() const { return typing_label_; }
    QLabel* WarningField() const { return warning_label_; }
    // clock: seconds on a steady clock for the speed samples (default: the window's own).
    void SetStatusSources(std::function<bool(uint64_t&, uint64_t&)> speed,
                          std::function<bool(uint32_t&, QString&)> warnings,
                          std::function<double()> clock = {});
    void UpdateStatus();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildMenus();
    // An entry of menu named name (for tests and Action()), with its shortcuts, which work in the
    // whole window.
    QAction* AddMenuAction(QMenu* menu, const char* name, const QString& text,
                           QList<QKeySequence> keys, std::function<void()> slot);
    void LayoutClient();
    void SetUpDisplay(bool font_loaded);
    void ShowTyping();
    void FollowLoadedTyping();
    void Shutdown();
    void ReturnFocus();
    void ShowKeyboardMode();
    void ShowProblem(const QString& text);
    bool ShortStatus() const;
    void ShowMessage(QLabel* field, const QString& text, bool lasting = false);
    void RunDialog(const std::function<void()>& run);
    void ChooseFileToType();
    void SaveScreenshotAs();
    bool WriteScreenshot(const QString& path);
    void DropFiles(const QList<QUrl>& urls);
    void ApplyTurbo();
    void FillRecentMenu();
    void OpenFilesFolder();
    void PowerCycle();
    void BuildStateMenus(QMenu* file);
    void ShowQuickSlots();
    void ChooseStateToSave();
    void ChooseStateToLoad();
    bool SaveForResume();
    // Machine > Debugger: the debugger window, made at the first use.
    void ShowDebugger();

    QWidget* client_;
    QFrame* frame_;
    DisplayWidget* display_;
    QPushButton* about_;
    QPushButton* config_;
    QPushButton* reset_;
    QPushButton* quit_;
    QLabel* speed_label_;
    QLabel* mode_label_;
    QLabel* notice_label_;
    QLabel* typing_label_;
    QLabel* warning_label_;
    QMenu* recent_menu_ = nullptr;
    DebuggerWindow* debugger_ = nullptr;
    int scale_ = 0;
    bool shut_down_ = false;
    bool font_loaded_ = false;
    bool turbo_held_ = false;

    QTimer status_timer_;
    QElapsedTimer clock_;
    SpeedMeter speed_meter_;
    std::function<bool(uint64_t&, uint64_t&)> speed_source_;
    std::function<bool(uint32_t&, QString&)> warning_source_;
    std::function<double()> clock_source_;
    uint32_t warnings_seen_ = 0;

    // Texts handed to the pacer and not yet typed to the end, oldest first.
    struct TypingJob {
        QString what;
        size_t total;
        size_t skipped;
    };
    std::deque<TypingJob> typing_jobs_;
    // The pacer's counts as last shown.
    size_t finished_seen_ = 0;
    size_t cancelled_seen_ = 0;
    size_t not_taken_seen_ = 0;
    size_t done_seen_ = 0;
    QTimer typing_timer_;
    QTimer ready_timer_;
    QTimer rewind_timer_; // takes rewind's state once a second of the machine's time
};
