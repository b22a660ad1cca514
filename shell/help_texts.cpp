#include "shell/help_texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

QString KeyboardHelpText() {
    return QStringLiteral(
        "## Keyboard as typed (the default)\n\n"
        "The character your layout gives is what the ABC80 gets. The ABC80 has Swedish letters "
        "in place of some ASCII characters:\n\n"
        "| Host key | ABC80 | Host key | ABC80 |\n"
        "|---|---|---|---|\n"
        "| `$` | ¤ | `{` | ä |\n"
        "| `@` | É | `|` | ö |\n"
        "| `[` | Ä | `}` | å |\n"
        "| `\\` | Ö | `~` | ü |\n"
        "| `]` | Å | `` ` `` | é |\n"
        "| `^` | Ü | Å Ä Ö É Ü å ä ö é ü | themselves |\n\n"
        "Dead keys and compose sequences give their character (acute, then E: É). Enter, "
        "Linefeed, Backspace, the arrows and Ctrl with a letter act as the key in the same place "
        "on a Swedish keyboard. The left arrow gives the same code as Backspace; Ctrl+< moves "
        "left without deleting. Ctrl-C stops a running BASIC program.\n\n"
        "## Swedish key positions\n\n"
        "Every key acts as the key in its place on a Swedish keyboard, whatever your layout "
        "says: on a US keyboard Shift+2 gives `\"`, the key right of P gives Å.\n\n"
        "## Keys of the program (no ABC80 key uses them)\n\n"
        "| Keys | Action |\n|---|---|\n"
        "| Ctrl+Shift+V, Shift+Insert | paste (typographic quotes and dashes become ASCII) |\n"
        "| Ctrl+Shift+C | copy the screen as text |\n"
        "| Esc | cancel a paste |\n"
        "| Pause | pause and resume |\n"
        "| F9 held, Ctrl+F9 | turbo while held, turbo on and off |\n"
        "| F12 | screenshot into the pictures folder |\n"
        "| F3 | type in a file |\n"
        "| Alt+1 ... Alt+4, Alt+0 | scale 1x to 4x, fit to window |\n"
        "| F11 | full screen |\n"
        "| F2, F1, Alt+F4 | Config, About, quit |\n\n"
        "The mouse: drag to select and copy a rectangle of text, middle click to paste the "
        "selection, right click for a menu.\n");
}

QString BasicHelpText() {
    QFile readme(":/lunabrik/README.md");
    if (!readme.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype start = text.indexOf("## The free BASIC");
    if (start < 0) return {};
    const qsizetype end = text.indexOf("\n## ", start + 1);
    return text.mid(start, end < 0 ? -1 : end - start).trimmed() + "\n";
}

void ShowHelp(QWidget* parent, const QString& title, const QString& markdown) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName("help");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    auto* browser = new QTextBrowser(dialog);
    browser->setMarkdown(markdown);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    dialog->resize(640, 560);
    dialog->show();
}
