// The desktop program's own preferences, kept with QSettings (never in Lunabrik.cfg, whose
// 260-byte record other installations may share): keyboard mode, scale, window geometry and
// full screen.
#pragma once

#include <QByteArray>

enum class KeyboardMode { Natural, Positional };

KeyboardMode SavedKeyboardMode();
void SaveKeyboardMode(KeyboardMode mode);

// 1-8: an integer scale; 0: fit the window; -1: never chosen (the first start).
int SavedScale();
void SaveScale(int scale);

QByteArray SavedGeometry();
bool SavedFullScreen();
void SaveWindowState(const QByteArray& geometry, bool full_screen);
