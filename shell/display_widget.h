// The display: the 240 x 240 picture of the ABC80 screen and the keyboard input of the emulated
// machine. The RenderThread hands each finished frame to Present(); the widget paints the latest
// one on the GUI thread, at an integer scale (nearest neighbour) centred on black.
//
// Keys: in natural mode a key whose event carries a printable character presses the ABC80 key
// that gives that character (with the shift it needs), whatever the host layout; keys without
// one (Enter, Backspace, arrows, modifiers, Ctrl+letter) go by their position on a Swedish
// keyboard, as in positional mode, where every key goes by position.
#pragma once

#include "display/display.h"
#include "system/typing.h"
#include "shell/preferences.h"

#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <array>
#include <atomic>
#include <deque>
#include <cstdint>
#include <mutex>

class DisplayWidget : public QWidget {
    Q_OBJECT
  public:
    explicit DisplayWidget(QWidget* parent = nullptr);

    // The display's present hook: runs on the RenderThread, copies the frame under a short lock
    // and asks the GUI thread for a repaint by a queued call. Never blocks on the GUI thread.
    static void Present(const uint8_t (*bitmap)[FrameLineBytes], void* widget);

    // A copy of the picture as the next repaint will show it (white pixels on black).
    QImage Picture() const;

    // The most device pixels per emulated pixel: 0 for no limit (fit the widget).
    void SetMaxFactor(int factor);
    // The factor the picture is drawn at now: the largest integer, in device pixels, whose
    // picture fits the widget, capped by the maximum; at least 1.
    int Factor() const;
    // The picture's place in the widget, in logical pixels.
    QRectF PictureRect() const;
    // The widget size, in logical pixels, that shows the picture at this factor exactly.
    QSize SizeForFactor(int factor) const;

    void SetKeyboardMode(KeyboardMode mode);
    KeyboardMode Mode() const { return mode_; }
    // While typing runs, keys are not passed to the machine (Esc still cancels, by its action).
    void SetTypingActive(bool active) { typing_active_ = active; }
    // Natural-mode keys the machine has not taken, held and let go of yet: typing waits for them,
    // so what was typed before a paste arrives before it, and the two never press at once.
    bool KeysPending() const { return !queue_.empty() || WaitingForMachine(); }

  signals:
    void FilesDropped(const QList<QUrl>& urls);
    void TextDropped(const QString& text);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    struct NaturalPress {
        bool stroke = false; // a character's key stroke; false: the key at the host key's place
        KeyStroke key{};
    };
    struct Pressed {
        bool held = false;
        bool stroke = false;
        bool caps_toggled = false;
        KeyStroke key{};
        bool taken = false;           // the machine took the key (or is not going to)
        int taken_checks = 0;         // checks since it was taken
        bool release_pending = false; // the host key is up; the ABC80 key waits to be taken
        KeyWatch watch;
    };
    struct Queued {
        quint32 native;
        NaturalPress press;
        bool released;
    };

    bool PassKey(QKeyEvent* event, bool pressed);
    bool NaturalKey(QKeyEvent* event, NaturalPress& press) const;
    void PressNatural(quint32 native, const NaturalPress& press);
    void ReleaseHeld(Pressed& held);
    bool WaitingForMachine() const;
    void NaturalStep();
    void ReleaseAllKeys();

    mutable std::mutex frame_mutex_;
    alignas(4) uint8_t frame_[FrameLines][FrameLineBytes] = {}; // guarded by frame_mutex_
    std::atomic<bool> repaint_pending_{false};
    int max_factor_ = 0;
    KeyboardMode mode_ = KeyboardMode::Natural;
    bool typing_active_ = false;
    static constexpr quint32 NativeKeys = 256;       // X11 key codes are 8-255
    std::array<Pressed, NativeKeys> natural_keys_{}; // by host key: the ABC80 key it pressed
    std::deque<Queued> queue_; // natural-mode presses waiting for the machine to take the last
    std::array<bool, NativeKeys> positional_down_{}; // positional mode: host keys down in the model
    QTimer natural_timer_;
};

// True when a key event is one the emulated keyboard takes, so that no shortcut may have it:
// a key of the ABC80 keyboard pressed without Alt, except Ctrl+Shift+C and Ctrl+Shift+V (which
// give the same codes as Ctrl+C and Ctrl+V there).
bool KeyBelongsToMachine(const QKeyEvent& event);
