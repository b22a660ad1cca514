#include "shell/help_texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

// The text lives in docs/help/keyboard.md, which the browser page shows too.
QString KeyboardHelpText() {
    QFile text(":/lunabrik/help/keyboard.md");
    if (!text.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(text.readAll());
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
