#include "shell/display_widget.h"

#include "shell/scan_code.h"
#include "system/crt_look.h"
#include "system/pacer.h"
#include "system/screen_copy.h"
#include "system/system.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMimeData>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// FrameBitmap lines as a one-bit image: bit 7 is the leftmost pixel, 0 black, 1 white.
QImage MonoImage(const uint8_t (*bitmap)[FrameLineBytes]) {
    QImage image(&bitmap[0][0], FramePixels, FrameLines, FrameLineBytes, QImage::Format_Mono);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    return image.copy();
}

// Rows [y0, y1) of the one-bit frame into the picture, each pixel as f.width() x f.height() device
// pixels, white or black. The picture is kept in the painter's own format, so a repaint is a plain
// copy of what it covers and only a changed row costs any conversion.
void DrawRows(QImage& picture, const QImage& frame, QSize f, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        const uchar* bits = frame.constScanLine(y);
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y * f.height()));
        for (int x = 0; x < FramePixels; ++x) {
            const QRgb colour = (bits[x >> 3] >> (7 - (x & 7)) & 1) ? 0xFFFFFFFFu : 0xFF000000u;
            std::fill_n(line + x * f.width(), f.width(), colour);
        }
        for (int r = 1; r < f.height(); ++r)
            std::memcpy(picture.scanLine(y * f.height() + r), line,
                        size_t(FramePixels * f.width()) * sizeof(QRgb));
    }
}

// Dead keys compose with the next key, whose event then carries the character.
bool IsDeadKey(int key) {
    return key >= Qt::Key_Dead_Grave && key <= Qt::Key_Dead_Longsolidusoverlay;
}

} // namespace

bool KeyBelongsToMachine(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers();
    if (mods & Qt::AltModifier) return false;
    if ((mods & Qt::ControlModifier) && (mods & Qt::ShiftModifier) &&
        (event.key() == Qt::Key_C || event.key() == Qt::Key_V))
        return false;
    return IsCountedKey(Set1ScanCode(event.nativeScanCode()));
}

DisplayWidget::DisplayWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("display");
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setAcceptDrops(true);
    // Dead keys and compose sequences come as input method events in natural mode.
    setAttribute(Qt::WA_InputMethodEnabled, true);
    setMinimumSize(FramePixels, FrameLines);
    uint8_t blank[FrameLines][FrameLineBytes] = {};
    frame_ = MonoImage(blank);
}

void DisplayWidget::FrameReady(void* widget) {
    auto* self = static_cast<DisplayWidget*>(widget);
    // One queued call at a time: frames that arrive before it runs are taken by it.
    if (!self->frame_pending_.exchange(true, std::memory_order_acq_rel)) {
        QMetaObject::invokeMethod(
            self,
            [self] {
                self->frame_pending_.store(false, std::memory_order_release);
                self->TakeFrame();
            },
            Qt::QueuedConnection);
    }
}

// Only the rows that changed are drawn again and repainted: an idle screen changes in the
// cursor's cell alone.
void DisplayWidget::TakeFrame() {
    uint8_t frame[FrameLines][FrameLineBytes];
    if (!SystemTakeFrame(frame)) return;
    int y0 = FrameLines, y1 = 0;
    for (int y = 0; y < FrameLines; ++y)
        if (std::memcmp(frame[y], bits_[y], FrameLineBytes) != 0) {
            y0 = std::min(y0, y);
            y1 = y + 1;
        }
    if (y0 >= y1 && !frame_.isNull()) return;
    std::memcpy(bits_, frame, sizeof bits_);
    frame_ = MonoImage(bits_);
    const QSize f = AxisFactors();
    if (crt_ || frame_.isNull() || y0 >= y1) {
        // The CRT look's glow reaches across rows: the whole picture is composed again.
        scaled_ = QImage();
        update(PictureRect().toAlignedRect());
        return;
    }
    if (scaled_.width() == FramePixels * f.width() && scaled_.height() == FrameLines * f.height())
        DrawRows(scaled_, frame_, f, y0, y1);
    else
        scaled_ = QImage();
    const QRectF place = PictureRect();
    const double row = place.height() / FrameLines;
    update(QRectF(place.left(), place.top() + y0 * row, place.width(), (y1 - y0) * row)
               .toAlignedRect());
}

void DisplayWidget::SetMaxFactor(int factor) {
    max_factor_ = std::max(0, factor);
    scaled_ = QImage();
    update();
}

int DisplayWidget::Factor() const {
    const double dpr = devicePixelRatioF();
    const int fits = int(std::floor(std::min(width(), height()) * dpr / FramePixels));
    int factor = max_factor_ > 0 ? std::min(fits, max_factor_) : fits;
    return std::max(1, factor);
}

QSize DisplayWidget::AxisFactors() const {
    if (!television_) return QSize(Factor(), Factor());
    const double dpr = devicePixelRatioF();
    const int fits = int(
        std::floor(std::min(width() * dpr / (4 * FramePixels), height() * dpr / (3 * FrameLines))));
    const int k = std::max(1, max_factor_ > 0 ? std::min(fits, max_factor_) : fits);
    return QSize(4 * k, 3 * k);
}

void DisplayWidget::SetCrtLook(bool on) {
    crt_ = on;
    scaled_ = QImage();
    update();
}

void DisplayWidget::SetTelevisionAspect(bool on) {
    television_ = on;
    scaled_ = QImage();
    update();
}

QRectF DisplayWidget::PictureRect() const {
    const double dpr = devicePixelRatioF();
    const QSize f = AxisFactors();
    const int w = FramePixels * f.width(), h = FrameLines * f.height(); // device pixels
    // Whole device pixels on both sides, so no pixel of the picture straddles two.
    const double x = std::floor((width() * dpr - w) / 2) / dpr;
    const double y = std::floor((height() * dpr - h) / 2) / dpr;
    return QRectF(std::max(0.0, x), std::max(0.0, y), w / dpr, h / dpr);
}

QSize DisplayWidget::SizeForFactor(int factor) const {
    const int fx = television_ ? 4 * factor : factor, fy = television_ ? 3 * factor : factor;
    return QSize(int(std::ceil(FramePixels * fx / devicePixelRatioF())),
                 int(std::ceil(FrameLines * fy / devicePixelRatioF())));
}

void DisplayWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRectF place = PictureRect();
    const QSize f = AxisFactors();
    if (scaled_.isNull() || scaled_.width() != FramePixels * f.width() ||
        scaled_.height() != FrameLines * f.height()) {
        scaled_ = QImage(FramePixels * f.width(), FrameLines * f.height(), QImage::Format_RGB32);
        if (crt_)
            CrtCompose(bits_, f.width(), f.height(), reinterpret_cast<uint32_t*>(scaled_.bits()),
                       size_t(scaled_.bytesPerLine()) / sizeof(uint32_t));
        else
            DrawRows(scaled_, frame_, f, 0, FrameLines);
        scaled_.setDevicePixelRatio(devicePixelRatioF());
    }
    // Black around the picture only where the repaint reaches past it.
    if (!place.contains(QRectF(event->rect()))) painter.fillRect(rect(), Qt::black);
    painter.drawImage(place.topLeft(), scaled_);
    if (const QRect cells = SelectedCells(); !cells.isNull()) {
        const double w = place.width() / ScreenColumns, h = place.height() / ScreenRows;
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(QRectF(place.left() + cells.left() * w, place.top() + cells.top() * h,
                                cells.width() * w, cells.height() * h),
                         Qt::white);
    }
    if (pause_mark_) {
        // Two bars in a dark disc at the top right, as media players show a pause.
        const double unit = std::max(6.0, place.width() / 40);
        const QRectF disc(place.right() - 6 * unit, place.top() + unit, 5 * unit, 5 * unit);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 170));
        painter.drawEllipse(disc);
        painter.setBrush(QColor(255, 255, 255, 230));
        const double bar_w = unit * 0.8, bar_h = unit * 2.4;
        const QPointF c = disc.center();
        painter.drawRect(QRectF(c.x() - 1.5 * bar_w, c.y() - bar_h / 2, bar_w, bar_h));
        painter.drawRect(QRectF(c.x() + 0.5 * bar_w, c.y() - bar_h / 2, bar_w, bar_h));
    }
    ++paints_;
}

void DisplayWidget::SetPauseMark(bool on) {
    if (on == pause_mark_) return;
    pause_mark_ = on;
    update();
}

void DisplayWidget::resizeEvent(QResizeEvent* event) {
    scaled_ = QImage();
    QWidget::resizeEvent(event);
}

void DisplayWidget::SetKeyboardMode(KeyboardMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    // By position, a dead key is a key like any other: the input method must not take it.
    setAttribute(Qt::WA_InputMethodEnabled, mode == KeyboardMode::Natural);
    // Keys held under the other mode are let go of: the new mode would not know them.
    PacerReleaseHeld();
}

// Keys pressed with Alt and F10 belong to the desktop, as menu keys; they never reach the
// emulated keyboard. Auto-repeats are dropped: each physical press arrives once.
//
// Natural mode: a printable character (without Ctrl) is the ABC80 key that gives it; a key of the
// ABC80 keyboard without one goes by position with the host's shift and control. Modifier keys,
// Caps Lock, dead keys and characters the ABC80 lacks reach nothing. Positional mode: every key as
// it comes, by its set-1 scan code.
bool DisplayWidget::PassKey(QKeyEvent* event, bool pressed) {
    if (event->key() == TurboKey && !(event->modifiers() & Qt::AltModifier)) {
        if (!event->isAutoRepeat() && pressed != turbo_held_) {
            turbo_held_ = pressed;
            emit TurboHeld(pressed);
        }
        return true;
    }
    const unsigned scan_code = Set1ScanCode(event->nativeScanCode());
    if (event->modifiers() & Qt::AltModifier || scan_code == ScanF10) return false;
    if (event->isAutoRepeat()) return true;
    const quint32 native = event->nativeScanCode();
    if (mode_ == KeyboardMode::Positional || native >= PacerHostKeys) {
        if (scan_code != 0 && scan_code < 256) PacerPositional(uint8_t(scan_code), pressed);
        return true;
    }
    if (!pressed) {
        PacerNaturalRelease(native);
        return true;
    }
    const Qt::KeyboardModifiers mods = event->modifiers();
    const QString text = event->text();
    const uint32_t cp = text.isEmpty() ? 0 : text.toUcs4().value(0);
    const bool control = mods & Qt::ControlModifier;
    // A dead key without a character of its own waits for the key it composes with.
    if ((control || cp < 0x20 || cp == 0x7F) && IsDeadKey(event->key())) return true;
    PacerNaturalKey(native, cp, scan_code, mods & Qt::ShiftModifier, control);
    return true;
}

// Shortcuts are offered a key before the widget sees it: a key of the emulated keyboard is
// claimed here, so no shortcut can take a combination the machine gives a code to.
bool DisplayWidget::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride &&
        KeyBelongsToMachine(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void DisplayWidget::keyPressEvent(QKeyEvent* event) {
    if (!PassKey(event, true)) QWidget::keyPressEvent(event);
}

void DisplayWidget::keyReleaseEvent(QKeyEvent* event) {
    if (!PassKey(event, false)) QWidget::keyReleaseEvent(event);
}

void DisplayWidget::focusOutEvent(QFocusEvent* event) {
    PacerReleaseHeld();
    if (turbo_held_) { // its release goes elsewhere now
        turbo_held_ = false;
        emit TurboHeld(false);
    }
    QWidget::focusOutEvent(event);
}

// Mouse: a drag with the left button selects a rectangle of cells (copied when it ends), the
// middle button pastes, the right one asks for the menu.
QPoint DisplayWidget::CellAt(const QPointF& pos) const {
    const QRectF place = PictureRect();
    const int column = int(std::floor((pos.x() - place.left()) * ScreenColumns / place.width()));
    const int row = int(std::floor((pos.y() - place.top()) * ScreenRows / place.height()));
    return QPoint(std::clamp(column, 0, ScreenColumns - 1), std::clamp(row, 0, ScreenRows - 1));
}

QRect DisplayWidget::SelectedCells() const {
    if (!selected_) return {};
    // Not QRect::normalized(), which moves swapped edges by a cell.
    const int left = std::min(anchor_.x(), current_.x()),
              right = std::max(anchor_.x(), current_.x());
    int top = std::min(anchor_.y(), current_.y()), bottom = std::max(anchor_.y(), current_.y());
    // Whole rows take in the whole of each line the ROM wrapped over several rows.
    if (left == 0 && right == ScreenColumns - 1) SystemLogicalRows(top, bottom);
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QString DisplayWidget::SelectedText() const {
    const QRect cells = SelectedCells();
    if (cells.isNull()) return {};
    return QString::fromStdString(
        SystemCopyText(cells.top(), cells.left(), cells.bottom(), cells.right()));
}

void DisplayWidget::ClearSelection() {
    if (!selected_) return;
    selected_ = false;
    update();
}

void DisplayWidget::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
    if (event->button() == Qt::LeftButton) {
        ClearSelection();
        dragging_ = true;
        anchor_ = current_ = CellAt(event->position());
    } else if (event->button() == Qt::MiddleButton) {
        emit MiddleClicked();
    } else if (event->button() == Qt::RightButton) {
        emit ContextMenuWanted(event->globalPosition().toPoint());
    }
}

void DisplayWidget::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!dragging_) return;
    const QPoint cell = CellAt(event->position());
    if (cell == current_ && selected_) return;
    current_ = cell;
    selected_ = true;
    update();
}

void DisplayWidget::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    if (selected_) emit Selected(SelectedText());
}

// What an input method composed (a dead key then a letter, a compose sequence): each character
// as the ABC80 key stroke that gives it, after the keys typed before it.
void DisplayWidget::inputMethodEvent(QInputMethodEvent* event) {
    const QByteArray text = event->commitString().toUtf8();
    std::string codes;
    TextToCodes(text.constData(), size_t(text.size()), codes);
    for (char code : codes) {
        KeyStroke key;
        if (KeyStrokeForCode(uint8_t(code), key)) PacerStroke(key);
    }
    event->accept();
}

QVariant DisplayWidget::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled: return mode_ == KeyboardMode::Natural;
    case Qt::ImCursorRectangle: return PictureRect().toAlignedRect();
    default: return QWidget::inputMethodQuery(query);
    }
}

// Tab is a key of the emulated machine while the display has the focus, not focus navigation.
bool DisplayWidget::focusNextPrevChild(bool) { return false; }

void DisplayWidget::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText()) event->acceptProposedAction();
}

void DisplayWidget::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    if (data->hasUrls())
        emit FilesDropped(data->urls());
    else if (data->hasText())
        emit TextDropped(data->text());
    event->acceptProposedAction();
}
