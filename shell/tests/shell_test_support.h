// Helpers shared by the GUI test programs.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs action on the first modal widget of type W to appear, from inside that widget's own event
// loop; a modal exec() in the test then returns once action has closed it.
template <typename W> void OnModal(std::function<void(W*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start();
}
