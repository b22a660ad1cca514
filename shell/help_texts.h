// Help > Keyboard and Help > BASIC: what the host keys give and what the free BASIC understands.
#pragma once

#include <QString>

class QWidget;

// Markdown: which host key gives which ABC80 character in each keyboard mode, and the program's
// own keys and mouse.
QString KeyboardHelpText();
// Markdown: the README's section on the free BASIC (the one text the README and the man page
// share), or empty when it cannot be found.
QString BasicHelpText();
// A window showing Markdown text; it does not block the machine.
void ShowHelp(QWidget* parent, const QString& title, const QString& markdown);
