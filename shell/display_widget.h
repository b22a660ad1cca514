// The display: the 240 x 240 picture of the ABC80 screen and the keyboard input of the emulated
// machine. The system tells it when a frame that differs from the last is ready; it then takes the
// frame, scales it once (integer factor, nearest neighbour) and paints it centred on black. An
// unchanged screen costs no painting.
//
// Keys go to the key pacer, which presses them at the pace the machine takes them and loses none.
// In natural mode a key whose event carries a printable character presses the ABC80 key that gives
// that character (with the shift it needs), whatever the host layout; keys without one (Enter,
// Backspace, arrows, Ctrl+letter) go by their position on a Swedish keyboard, as in positional
// mode, where every key goes by position.
#pragma once

#include "shell/preferences.h"
#include "system/system.h"

#include <QImage>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <cstdint>

class DisplayWidget : public QWidget {
    Q_OBJECT
  public:
    explicit DisplayWidget(QWidget* parent = nullptr);

    // The system's frame hook: runs on the RenderThread and asks the GUI thread, by one queued
    // call at a time, to take the new frame and repaint. Never blocks.
    static void FrameReady(void* widget);

    // A copy of the picture as the next repaint will show it (white pixels on black).
    QImage Picture() const { return frame_; }
    // Takes the latest frame from the system and repaints when it changed.
    void TakeFrame();

    // The most device pixels per emulated pixel: 0 for no limit (fit the widget).
    void SetMaxFactor(int factor);
    // The factor the picture is drawn at now: the largest integer, in device pixels, whose
    // picture fits the widget, capped by the maximum; at least 1.
    int Factor() const;
    // The picture's place in the widget, in logical pixels.
    QRectF PictureRect() const;
    // Device pixels per emulated pixel across and down: Factor() both ways, or in the television
    // aspect 4k and 3k, k the largest whole number that fits (capped by the maximum), at least 1.
    QSize AxisFactors() const;
    // 4:3 as a television showed it, instead of square pixels.
    void SetTelevisionAspect(bool on);
    bool TelevisionAspect() const { return television_; }
    // Scanlines and the phosphor's glow, as a monitor of 1978 showed the picture.
    void SetCrtLook(bool on);
    bool CrtLook() const { return crt_; }
    // The picture as painted now, at the scale shown (for the CRT look's check).
    QImage Painted() const { return scaled_; }
    // The widget size, in logical pixels, that shows the picture at this factor exactly.
    QSize SizeForFactor(int factor) const;

    void SetKeyboardMode(KeyboardMode mode);
    KeyboardMode Mode() const { return mode_; }
    // A pause mark over the picture while the machine is paused.
    void SetPauseMark(bool on);
    bool PauseMark() const { return pause_mark_; }
    // Paintings of the picture so far (for the idle-cost check).
    uint64_t Paints() const { return paints_; }

    // The key that runs the machine as fast as possible while it is held.
    static constexpr Qt::Key TurboKey = Qt::Key_F9;

    // The text of the cells selected with the mouse (a rectangle), or empty.
    QString SelectedText() const;
    void ClearSelection();

  signals:
    void TurboHeld(bool held);
    // A drag over the screen ended: the rectangle's text.
    void Selected(const QString& text);
    void MiddleClicked();
    void ContextMenuWanted(const QPoint& global);
    void FilesDropped(const QList<QUrl>& urls);
    void TextDropped(const QString& text);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    bool PassKey(QKeyEvent* event, bool pressed);

    QImage frame_;                                  // the latest frame, one bit per pixel
    uint8_t bits_[FrameLines][FrameLineBytes] = {}; // the same as FrameBitmap lines
    QImage scaled_;                                 // frame_ at Factor(), made when either changes
    std::atomic<bool> frame_pending_{false};
    int max_factor_ = 0;
    uint64_t paints_ = 0;
    KeyboardMode mode_ = KeyboardMode::Natural;
    bool turbo_held_ = false;
    bool television_ = false;
    bool crt_ = false;
    bool pause_mark_ = false;
    QPoint CellAt(const QPointF& pos) const; // column, row; clamped to the screen
    QRect SelectedCells() const;             // columns x, rows y
    bool dragging_ = false;
    bool selected_ = false;
    QPoint anchor_, current_;
};

// True when a key event is one the emulated keyboard takes, so that no shortcut may have it:
// a key of the ABC80 keyboard pressed without Alt, except Ctrl+Shift+C and Ctrl+Shift+V (which
// give the same codes as Ctrl+C and Ctrl+V there).
bool KeyBelongsToMachine(const QKeyEvent& event);
