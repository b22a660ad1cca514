// The About dialog and the program icon it shares with the main window.
#pragma once

#include <QIcon>

class QWidget;

// The program icon in all the sizes the resources hold.
QIcon LunabrikIcon();

// Name, version, licence, where the ROM images, settings and preferences are read from, and
// the shortcuts.
QString AboutText();

// Runs the About dialog modally over the main window; emulation and ticks go on meanwhile.
void RunAboutDialog(QWidget* parent);
