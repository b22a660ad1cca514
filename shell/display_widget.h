// The display: the 240 x 240 picture of the ABC80 screen and the keyboard input of the emulated
// machine. The RenderThread hands each finished frame to Present(); the widget paints the latest
// one on the GUI thread.
#pragma once

#include "display/display.h"

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>

class DisplayWidget : public QWidget {
  public:
    explicit DisplayWidget(QWidget* parent = nullptr);

    // The display's present hook: runs on the RenderThread, copies the frame under a short lock
    // and asks the GUI thread for a repaint by a queued call. Never blocks on the GUI thread.
    static void Present(const uint8_t (*bitmap)[FrameLineBytes], void* widget);

    // A copy of the picture as the next repaint will show it (white pixels on black).
    QImage Picture() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    bool PassKey(QKeyEvent* event, bool pressed);

    mutable std::mutex frame_mutex_;
    alignas(4) uint8_t frame_[FrameLines][FrameLineBytes] = {}; // guarded by frame_mutex_
    std::atomic<bool> repaint_pending_{false};
};
