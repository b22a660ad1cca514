#include "shell/window_focus.h"

#include "shell/display_widget.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

void ReturnFocus(DisplayWidget* display) {
    QTimer::singleShot(0, display, [display] {
        if (!QApplication::activeModalWidget() && !QApplication::activePopupWidget())
            display->setFocus(Qt::OtherFocusReason);
    });
}

void ShowProblem(QWidget* parent, DisplayWidget* display, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, "Lunabrik", text, QMessageBox::Ok, parent);
    box->setObjectName("typingProblem");
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, display, [display] { ReturnFocus(display); });
    box->open();
}
