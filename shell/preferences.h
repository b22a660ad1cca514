// The desktop program's own preferences, kept with QSettings (never in Lunabrik.cfg, whose
// 260-byte record other installations may share): keyboard mode, scale, the CRT look,
// window geometry, full screen, resuming, and the debugger window's place.
//
// Only plain files are read or written: a FIFO, device or folder where a preferences file belongs
// gives the defaults at once, and nothing is saved over it.
#pragma once

#include <QByteArray>
#include <QRect>

enum class KeyboardMode { Natural, Positional };

KeyboardMode SavedKeyboardMode();
void SaveKeyboardMode(KeyboardMode mode);

// 1-8: an integer scale; 0: fit the window; -1: never chosen (the first start).
int SavedScale();
void SaveScale(int scale);

// View > CRT look: off unless chosen.
bool SavedCrtLook();
void SaveCrtLook(bool on);

// "Resume where I left off": a state saved at Quit and loaded at the next start. On for a new
// user: PrepareNewPreferences (at start) turns it on when there are no preferences yet; a user
// who had preferences before keeps what they had (off unless chosen).
bool SavedResume();
void SaveResume(bool on);
void PrepareNewPreferences();

// Where the debugger window was last, its geometry without the frame (empty: never opened).
QRect SavedDebuggerGeometry();
void SaveDebuggerGeometry(const QRect& geometry);

// Where a window of this size goes beside the main window (its frame): to the right where the
// available rectangle has room, else to the left, else (made narrower, down to least_width, when
// that fits) against the edge with more room; level with the main window's top as far as the
// screen lets it.
QRect PlaceBeside(const QRect& main, QSize size, int least_width, const QRect& available);

// The speed of a real pace in percent of a real ABC80 (Speed menu, Config): 100 when none saved.
// Lunabrik.cfg's waitstates says whether the pace is real (-1); this says how fast it runs.
int SavedSpeedPercent();
void SaveSpeedPercent(int percent);

QByteArray SavedGeometry();
bool SavedFullScreen();
void SaveWindowState(const QByteArray& geometry, bool full_screen);

// A saved window rectangle made to fit the screen's available rectangle: no larger than it, and
// moved inside it. An empty rectangle for an absurd one (not valid, or more than four times the
// screen's size), for which the caller takes the defaults.
QRect FitWindowToScreen(const QRect& window, const QRect& available);

// The scale (device pixels per emulated pixel) whose picture of picture_pixels square, with
// `around` (menus, buttons, status bar) beside it, fits the available rectangle: scale itself when
// it fits, else the largest that does, at least 1. 0 (fit to the window) stays 0.
int FitScaleToScreen(int scale, int picture_pixels, QSize around, const QRect& available,
                     double device_pixel_ratio);
