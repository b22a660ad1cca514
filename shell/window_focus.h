// The keyboard belongs to the screen: helpers every part of the main window uses after a menu, a
// dialog or a message box had it.
#pragma once

#include <QString>

class DisplayWidget;
class QWidget;

// The screen gets the keyboard back once no modal dialog or popup holds it. Deferred: a menu
// closed with Esc hands the keyboard to the menu bar after its own hide.
void ReturnFocus(DisplayWidget* display);

// A warning box over parent, not waiting for the answer; the screen gets the keyboard back after.
void ShowProblem(QWidget* parent, DisplayWidget* display, const QString& text);
