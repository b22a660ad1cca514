// The main window's menus and the actions behind them: each entry calls the part of the window
// that does the work (typing, states, the emulation driver, the window itself). Shortcuts work in
// the whole window, full screen included.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>

#include <functional>

class MainWindow;
class QAction;
class QMenu;
class QPoint;

class WindowMenus : public QObject {
  public:
    // Builds the menu bar of window; the window's parts must exist.
    explicit WindowMenus(MainWindow* window);

    // The entry named name (for tests and the window), or null.
    QAction* Action(const char* name) const;
    // The right button's menu on the screen.
    void ShowContextMenu(const QPoint& global);
    // The keyboard mode changed (the config dialog, this menu): the entry and status bar follow.
    void ShowKeyboardMode();
    // The Speed menu ticks the speed in force (none while paused: Pause is ticked then).
    void ShowSpeed();
    // A speed chosen from the Speed menu (a percent or FastestSpeed).
    void PickSpeed(int speed);

  private:
    QAction* Add(QMenu* menu, const char* name, const QString& text, QList<QKeySequence> keys,
                 std::function<void()> slot);
    void BuildStateEntries(QMenu* file);
    void ShowQuickSlots();
    void FillRecentMenu();
    void OpenFilesFolder();
    void PowerCycle();

    MainWindow* window_;
    QMenu* recent_ = nullptr;
};
