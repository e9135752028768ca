#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

namespace tamberlo::test {

// Waits (at most 10 s, processing events) until the process's threads have stopped coming
// and going for half a second. The media stack winds its threads down after its players are
// gone; the leak check at exit does not cope with a thread that ends while it runs.
inline void letThreadsSettle() {
    const auto threads = [] {
        return QDir(QStringLiteral("/proc/self/task"))
            .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
            .size();
    };
    QElapsedTimer total;
    total.start();
    QElapsedTimer stable;
    stable.start();
    qsizetype last = threads();
    while (stable.elapsed() < 500 && total.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
        if (const qsizetype now = threads(); now != last) {
            last = now;
            stable.restart();
        }
    }
}

} // namespace tamberlo::test
