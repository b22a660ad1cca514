// The main window: menus, the display in a sunken frame with the About, Config, Reset and Quit
// buttons beside it, and a status bar. The window itself only lays these out, sizes the picture
// and ends the program; its parts each own one concern: the status bar (StatusFields), the
// machine's threads, pause and turbo (EmulationDriver), typing, paste and copy
// (TypingController), saved states and rewind (StateController), screenshots (Screenshots), and
// the menus and their actions (WindowMenus).
#pragma once

#include <QMainWindow>

#include <functional>

class DebuggerWindow;
class DisplayWidget;
class EmulationDriver;
class QFrame;
class QPushButton;
class Screenshots;
class StateController;
class StatusFields;
class TypingController;
class WindowMenus;

class MainWindow : public QMainWindow {
  public:
    // font_loaded: start-up built the character generator, so the display and the tick can run.
    // notice: what start-up has to tell the user (a missing font.bin), shown in the status bar.
    explicit MainWindow(bool font_loaded, const QString& notice = {});
    ~MainWindow() override;

    // The window's parts.
    DisplayWidget* Display() const { return display_; }
    StatusFields* Status() const { return status_; }
    EmulationDriver* Emulation() const { return emulation_; }
    TypingController* Typist() const { return typing_; }
    StateController* States() const { return states_; }
    Screenshots* Shots() const { return screenshots_; }
    WindowMenus* Menus() const { return menus_; }
    QPushButton* AboutButton() const { return about_; }
    QPushButton* ConfigButton() const { return config_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* QuitButton() const { return quit_; }
    // The menu entry named name, or null.
    QAction* Action(const char* name) const;

    // Starts the machine's threads (processor, renderer, clock) drawing into the display; call
    // after the window is shown and the machine booted.
    void StartProcessor();

    // Window size and place as the preferences hold them; on the first start the largest scale
    // whose picture fits in three quarters of the screen's height. Call before show().
    void RestoreWindowState();
    // 1-8: the picture at that many device pixels per emulated pixel, the window sized for it;
    // 0: the largest that fits, growing and shrinking with the window.
    void SetScale(int scale);
    int Scale() const { return scale_; }
    void SetFullScreen(bool on);
    // 4:3 at whole scales per axis; off, the scale chosen before comes back with square pixels.
    void SetTelevisionAspect(bool on);
    static constexpr int MaxScale = 4; // the View menu's scales
    // The scale a first start picks for a screen of this height in device pixels.
    static int FirstStartScale(int screen_device_height);

    // Machine > Debugger: the debugger window, made at the first use.
    void ShowDebugger();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void LayoutClient();
    void CheckScaleEntry(int scale);
    void RunDialog(const std::function<void()>& run);
    void Shutdown();
    void PlaceDebugger();

    QWidget* client_;
    QFrame* frame_;
    DisplayWidget* display_;
    QPushButton* about_;
    QPushButton* config_;
    QPushButton* reset_;
    QPushButton* quit_;
    StatusFields* status_;
    EmulationDriver* emulation_;
    TypingController* typing_;
    StateController* states_;
    Screenshots* screenshots_;
    WindowMenus* menus_;
    DebuggerWindow* debugger_ = nullptr;
    int scale_ = 0;
    bool shut_down_ = false;
};
