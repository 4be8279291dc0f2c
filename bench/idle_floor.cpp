// SPDX-License-Identifier: GPL-3.0-or-later
//
// What waking twenty times a second costs on this machine, for comparison with
// Tovrel's idle figure:
//   tovrel_idle_floor --bare   a plain loop sleeping 50 ms in poll(), no Qt at all
//   tovrel_idle_floor          a Qt window of Tovrel's size with a 50 ms timer that
//                              does nothing
// Both run until they are stopped.

#include <poll.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0) {
        for (;;) poll(nullptr, 0, 50);
    }
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("idle floor"));
    window.resize(388, 187);
    window.show();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start();
    return QApplication::exec();
}
