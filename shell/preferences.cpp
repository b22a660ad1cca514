#include "shell/preferences.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* Organisation = "Lunabrik";
constexpr const char* Application = "Lunabrik";

// The user's files QSettings reads for us: the program's own and the organisation's.
QStringList PreferenceFiles() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return {QString("%1/%2/%3.conf").arg(folder, Organisation, Application),
            QString("%1/%2.conf").arg(folder, Organisation)};
}

// True when every preferences file is missing or a plain file (a link to one is read). QSettings
// would block on a FIFO and replace a device or folder when it saves, so anything else gives the
// defaults, and nothing is saved over it.
bool PreferenceFilesUsable(bool for_writing) {
    for (const QString& file : PreferenceFiles()) {
        const QByteArray name = QFile::encodeName(file);
        if (for_writing) {
            struct stat st;
            if (lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
            continue;
        }
        const int fd = open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue; // missing or unreadable: QSettings gives the defaults itself
        struct stat st;
        const bool plain = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        close(fd);
        if (!plain) return false;
    }
    return true;
}

QVariant Value(const char* key) {
    if (!PreferenceFilesUsable(false)) return {};
    return QSettings(Organisation, Application).value(key);
}
void SetValue(const char* key, const QVariant& value) {
    if (!PreferenceFilesUsable(true)) return;
    QSettings(Organisation, Application).setValue(key, value);
}

} // namespace

KeyboardMode SavedKeyboardMode() {
    return Value("keyboard/mode").toString() == "positional" ? KeyboardMode::Positional
                                                             : KeyboardMode::Natural;
}

void SaveKeyboardMode(KeyboardMode mode) {
    SetValue("keyboard/mode", mode == KeyboardMode::Positional ? "positional" : "natural");
}

int SavedScale() {
    bool ok = false;
    int scale = Value("view/scale").toInt(&ok);
    return ok && scale >= 0 && scale <= 8 ? scale : -1;
}

void SaveScale(int scale) { SetValue("view/scale", scale); }

bool SavedCrtLook() { return Value("view/crt").toBool(); }

void SaveCrtLook(bool on) { SetValue("view/crt", on); }

bool SavedResume() { return Value("states/resume").toBool(); }

void PrepareNewPreferences() {
    if (!PreferenceFilesUsable(false) || !PreferenceFilesUsable(true)) return;
    QSettings settings(Organisation, Application);
    if (settings.allKeys().isEmpty()) settings.setValue("states/resume", true);
}

QRect SavedDebuggerGeometry() { return Value("debugger/rect").toRect(); }

void SaveDebuggerGeometry(const QRect& geometry) { SetValue("debugger/rect", geometry); }

QRect PlaceBeside(const QRect& main, QSize size, int least_width, const QRect& available) {
    size = size.boundedTo(available.size());
    const int room_right = available.right() - main.right();
    const int room_left = main.left() - available.left();
    // Narrower, down to the least width it can take, rather than over the main window.
    if (size.width() > std::max(room_right, room_left) &&
        std::max(room_right, room_left) >= least_width)
        size.setWidth(std::max(room_right, room_left));
    int x;
    if (room_right >= size.width())
        x = main.right() + 1;
    else if (room_left >= size.width())
        x = main.left() - size.width();
    else // no room either side: against the edge with more, over as little of the window as can be
        x = room_right >= room_left ? available.right() - size.width() + 1 : available.left();
    const int y = std::clamp(main.top(), available.top(), available.bottom() - size.height() + 1);
    return QRect(QPoint(x, y), size);
}

void SaveResume(bool on) { SetValue("states/resume", on); }

int SavedSpeedPercent() {
    bool ok = false;
    const int percent = Value("speed/percent").toInt(&ok);
    return ok && percent >= 1 && percent <= 100000 ? percent : 100;
}

void SaveSpeedPercent(int percent) { SetValue("speed/percent", percent); }

QByteArray SavedGeometry() { return Value("window/geometry").toByteArray(); }

bool SavedFullScreen() { return Value("window/fullScreen").toBool(); }

void SaveWindowState(const QByteArray& geometry, bool full_screen) {
    SetValue("window/geometry", geometry);
    SetValue("window/fullScreen", full_screen);
}

QRect FitWindowToScreen(const QRect& window, const QRect& available) {
    if (!window.isValid() || !available.isValid()) return {};
    // Far beyond the screen is no window a user left there: the defaults.
    if (window.width() > 4 * available.width() || window.height() > 4 * available.height())
        return {};
    QRect fitted(window.topLeft(), window.size().boundedTo(available.size()));
    fitted.moveLeft(
        std::clamp(fitted.left(), available.left(), available.right() - fitted.width() + 1));
    fitted.moveTop(
        std::clamp(fitted.top(), available.top(), available.bottom() - fitted.height() + 1));
    return fitted;
}

int FitScaleToScreen(int scale, int picture_pixels, QSize around, const QRect& available,
                     double device_pixel_ratio) {
    if (scale <= 0) return scale;
    while (scale > 1 &&
           (picture_pixels * scale / device_pixel_ratio + around.width() > available.width() ||
            picture_pixels * scale / device_pixel_ratio + around.height() > available.height()))
        --scale;
    return scale;
}
