#include "shell/preferences.h"

#include <QSettings>

namespace {

constexpr const char* Organisation = "Lunabrik";
constexpr const char* Application = "Lunabrik";

QVariant Value(const char* key) { return QSettings(Organisation, Application).value(key); }
void SetValue(const char* key, const QVariant& value) {
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

QByteArray SavedGeometry() { return Value("window/geometry").toByteArray(); }

bool SavedFullScreen() { return Value("window/fullScreen").toBool(); }

void SaveWindowState(const QByteArray& geometry, bool full_screen) {
    SetValue("window/geometry", geometry);
    SetValue("window/fullScreen", full_screen);
}
