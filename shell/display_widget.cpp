#include "shell/display_widget.h"

#include "machine/keyboard.h"
#include "shell/scan_code.h"

#include <QKeyEvent>
#include <QPainter>

#include <cstring>

namespace {

constexpr unsigned F10ScanCode = 68;

// FrameBitmap lines as a one-bit image: bit 7 is the leftmost pixel, 0 black, 1 white.
QImage MonoImage(const uint8_t (*bitmap)[FrameLineBytes]) {
    QImage image(&bitmap[0][0], FramePixels, FrameLines, FrameLineBytes, QImage::Format_Mono);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    return image;
}

} // namespace

DisplayWidget::DisplayWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("display");
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void DisplayWidget::Present(const uint8_t (*bitmap)[FrameLineBytes], void* widget) {
    auto* self = static_cast<DisplayWidget*>(widget);
    {
        std::lock_guard lock(self->frame_mutex_);
        std::memcpy(self->frame_, bitmap, sizeof self->frame_);
    }
    // One queued repaint at a time: frames that arrive before it runs are shown by it.
    if (!self->repaint_pending_.exchange(true, std::memory_order_acq_rel)) {
        QMetaObject::invokeMethod(
            self,
            [self] {
                self->repaint_pending_.store(false, std::memory_order_release);
                self->update(0, 0, FramePixels, FrameLines);
            },
            Qt::QueuedConnection);
    }
}

QImage DisplayWidget::Picture() const {
    std::lock_guard lock(frame_mutex_);
    return MonoImage(frame_).copy();
}

void DisplayWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, Picture());
}

// Keys pressed with Alt and F10 belong to the desktop, as menu keys; they never reach the
// emulated keyboard. Auto-repeats are dropped: each physical press arrives once.
bool DisplayWidget::PassKey(QKeyEvent* event, bool pressed) {
    unsigned scan_code = Set1ScanCode(event->nativeScanCode());
    if (event->modifiers() & Qt::AltModifier || scan_code == F10ScanCode) return false;
    if (!event->isAutoRepeat() && scan_code != 0) KeyEvent(scan_code, pressed);
    return true;
}

void DisplayWidget::keyPressEvent(QKeyEvent* event) {
    if (!PassKey(event, true)) QWidget::keyPressEvent(event);
}

void DisplayWidget::keyReleaseEvent(QKeyEvent* event) {
    if (!PassKey(event, false)) QWidget::keyReleaseEvent(event);
}

void DisplayWidget::focusOutEvent(QFocusEvent* event) {
    ReleaseKeyboard();
    QWidget::focusOutEvent(event);
}

void DisplayWidget::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

// Tab is a key of the emulated machine while the display has the focus, not focus navigation.
bool DisplayWidget::focusNextPrevChild(bool) { return false; }
