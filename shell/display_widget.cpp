#include "shell/display_widget.h"

#include "machine/charmap.h"
#include "machine/keyboard.h"
#include "shell/scan_code.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr unsigned F10ScanCode = 68;
constexpr int ReleaseCheckMilliseconds = 2;
constexpr size_t MaxQueuedKeys = 64;
// Checks a key stays down after the machine took it, for software that also looks at port 56
// outside its keyboard handler (to see whether a key is still held).
constexpr int HoldChecks = 5;

// FrameBitmap lines as a one-bit image: bit 7 is the leftmost pixel, 0 black, 1 white.
QImage MonoImage(const uint8_t (*bitmap)[FrameLineBytes]) {
    QImage image(&bitmap[0][0], FramePixels, FrameLines, FrameLineBytes, QImage::Format_Mono);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    return image;
}

// Dead keys compose with the next key, whose event then carries the character.
bool IsDeadKey(int key) {
    return key >= Qt::Key_Dead_Grave && key <= Qt::Key_Dead_Longsolidusoverlay;
}

bool IsCountedKey(unsigned scan_code) {
    if (scan_code == 0 || scan_code >= KeyScanCodes) return false;
    const uint8_t k = KeyIndexTable[scan_code];
    return k != 0 && !(KeyCodeTable[PlanePlain][k] & 0x80);
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
    setMinimumSize(FramePixels, FrameLines);
    natural_timer_.setInterval(ReleaseCheckMilliseconds);
    connect(&natural_timer_, &QTimer::timeout, this, &DisplayWidget::NaturalStep);
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
                self->update(self->PictureRect().toAlignedRect());
            },
            Qt::QueuedConnection);
    }
}

QImage DisplayWidget::Picture() const {
    std::lock_guard lock(frame_mutex_);
    return MonoImage(frame_).copy();
}

void DisplayWidget::SetMaxFactor(int factor) {
    max_factor_ = std::max(0, factor);
    update();
}

int DisplayWidget::Factor() const {
    const double dpr = devicePixelRatioF();
    const int fits = int(std::floor(std::min(width(), height()) * dpr / FramePixels));
    int factor = max_factor_ > 0 ? std::min(fits, max_factor_) : fits;
    return std::max(1, factor);
}

QRectF DisplayWidget::PictureRect() const {
    const double dpr = devicePixelRatioF();
    const int side = FramePixels * Factor(); // device pixels
    // Whole device pixels on both sides, so no pixel of the picture straddles two.
    const double x = std::floor((width() * dpr - side) / 2) / dpr;
    const double y = std::floor((height() * dpr - side) / 2) / dpr;
    return QRectF(std::max(0.0, x), std::max(0.0, y), side / dpr, side / dpr);
}

QSize DisplayWidget::SizeForFactor(int factor) const {
    const int side = int(std::ceil(FramePixels * factor / devicePixelRatioF()));
    return QSize(side, side);
}

void DisplayWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const int factor = Factor();
    QImage picture = Picture();
    if (factor > 1)
        picture = picture.scaled(FramePixels * factor, FrameLines * factor, Qt::IgnoreAspectRatio,
                                 Qt::FastTransformation);
    picture.setDevicePixelRatio(devicePixelRatioF());
    painter.drawImage(PictureRect().topLeft(), picture);
}

void DisplayWidget::SetKeyboardMode(KeyboardMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    // Keys pressed under the other mode are released: the new mode would not know them.
    ReleaseAllKeys();
}

// The ABC80 key for a natural-mode key press: the character's key when the event carries a
// printable character, otherwise the key at the host key's position. False for a key that does
// not reach the machine as a key of its own (modifiers, Caps Lock, keys the ABC80 lacks).
bool DisplayWidget::NaturalKey(QKeyEvent* event, NaturalPress& press) const {
    const unsigned scan_code = Set1ScanCode(event->nativeScanCode());
    const QString text = event->text();
    const uint32_t cp = text.isEmpty() ? 0 : text.toUcs4().value(0);
    press.stroke = !(event->modifiers() & Qt::ControlModifier) && cp >= 0x20 && cp != 0x7F;
    if (press.stroke) {
        const int code = Abc80CodeForCharacter(cp);
        return code >= 0x20 && code <= 0x7E && KeyStrokeForCode(uint8_t(code), press.key);
    }
    if (IsDeadKey(event->key()) || !IsCountedKey(scan_code)) return false;
    // By position, with the model's modifiers as they are now (CAPS acts as shift on letters).
    const uint8_t m = KeyboardState.modifiers;
    const bool letter = LetterKeyTable[KeyIndexTable[scan_code]];
    press.key = {uint8_t(scan_code), (m & SHIFT) || ((m & CAPS) && letter), bool(m & CONTROL)};
    return true;
}

// Natural mode keeps the order of keys and loses none: a key goes down only once the machine
// has taken the one before (see KeyWatch; then a few checks more) and, when its host key is
// already up, released it. A key whose host key went up at once (a short tap, synthetic events)
// stays down until then.
void DisplayWidget::PressNatural(quint32 native, const NaturalPress& press) {
    Pressed& held = natural_keys_[native];
    if (held.held) ReleaseHeld(held); // typed again before the machine took it
    held.held = true;
    held.stroke = press.stroke;
    held.key = press.key;
    held.watch = WatchKey();
    held.caps_toggled = press.stroke ? PressKeyStroke(press.key) : false;
    if (!press.stroke) KeyEvent(press.key.scan_code, true);
}

void DisplayWidget::ReleaseHeld(Pressed& held) {
    if (held.stroke)
        ReleaseKeyStroke(held.key, held.caps_toggled);
    else
        KeyEvent(held.key.scan_code, false);
    held = {};
}

bool DisplayWidget::WaitingForMachine() const {
    for (const Pressed& held : natural_keys_)
        if (held.held && (held.taken_checks < HoldChecks || held.release_pending)) return true;
    return false;
}

void DisplayWidget::NaturalStep() {
    for (Pressed& held : natural_keys_) {
        if (!held.held) continue;
        if (!held.taken) {
            held.taken = CheckKeyTaken(held.watch) != KeyTake::Waiting;
        } else if (held.taken_checks < HoldChecks) {
            ++held.taken_checks;
        } else if (held.release_pending) {
            ReleaseHeld(held);
        }
    }
    while (!queue_.empty() && !WaitingForMachine()) {
        Queued q = queue_.front();
        queue_.pop_front();
        q.press.stroke = true; // pressed later: with the modifiers the key had when it was typed
        PressNatural(q.native, q.press);
        natural_keys_[q.native].release_pending = q.released;
    }
    if (!KeysPending()) natural_timer_.stop();
}

// Keys pressed with Alt and F10 belong to the desktop, as menu keys; they never reach the
// emulated keyboard. Auto-repeats are dropped: each physical press arrives once. A key's release
// reaches the model only when its press did: the release of a key that is still queued, was
// dropped, or was pressed while typing owned the keyboard would let go of another key that the
// machine has not read yet.
bool DisplayWidget::PassKey(QKeyEvent* event, bool pressed) {
    const unsigned scan_code = Set1ScanCode(event->nativeScanCode());
    if (event->modifiers() & Qt::AltModifier || scan_code == F10ScanCode) return false;
    if (event->isAutoRepeat()) return true;
    const quint32 native = event->nativeScanCode();
    const bool counted = IsCountedKey(scan_code);
    // Typing owns the keyboard; modifiers still follow the host.
    if (pressed && typing_active_ && counted) return true;
    // A key we cannot follow goes straight to the model, as it comes.
    if (native >= NativeKeys) {
        if (scan_code != 0) KeyEvent(scan_code, pressed);
        return true;
    }
    if (mode_ == KeyboardMode::Natural) {
        if (pressed) {
            NaturalPress press;
            if (NaturalKey(event, press)) {
                if (queue_.empty() && !WaitingForMachine())
                    PressNatural(native, press);
                else if (queue_.size() < MaxQueuedKeys)
                    queue_.push_back({native, press, false});
                if (!natural_timer_.isActive()) natural_timer_.start();
                return true;
            }
            if (press.stroke || IsDeadKey(event->key())) return true; // no ABC80 character
        } else {
            for (Queued& q : queue_)
                if (q.native == native) q.released = true;
            if (natural_keys_[native].held) {
                // Released by the timer's steps only: they count time, events do not.
                natural_keys_[native].release_pending = true;
                if (!natural_timer_.isActive()) natural_timer_.start();
            }
            if (counted) return true; // natural mode presses counted keys through the timer only
        }
    } else if (counted) {
        if (!pressed && !positional_down_[native]) return true;
        positional_down_[native] = pressed;
    }
    if (scan_code != 0) KeyEvent(scan_code, pressed);
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

void DisplayWidget::ReleaseAllKeys() {
    for (Pressed& held : natural_keys_)
        if (held.held) ReleaseHeld(held);
    queue_.clear();
    natural_timer_.stop();
    positional_down_ = {};
    ReleaseKeyboard();
}

void DisplayWidget::focusOutEvent(QFocusEvent* event) {
    ReleaseAllKeys();
    QWidget::focusOutEvent(event);
}

void DisplayWidget::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    event->accept();
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
