// Runs the Qt event loop until a condition holds, for tests of threaded Qt code.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace vantry::testing {

// True once done() holds; false when `limitMs` pass first.
template <typename Done>
bool pumpUntil(Done done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace vantry::testing
