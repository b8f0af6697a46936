#pragma once

// Plays the operator of a modal window: the window runs its own event loop, nested inside the
// test's call that shows it, so the test acts on it from a timer.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs action on the modal window as soon as it shows (inside its own event loop).
inline void whenModalShows(std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}
