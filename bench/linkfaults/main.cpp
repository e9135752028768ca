// Link faults benchmark, on the real serial adapter, transmitter, receiver and port control
// against a pseudo-terminal:
//  - hang-up: the other end of the line goes away, on an idle line and while a five-byte
//    frame is paced out. Printed: milliseconds until the port control has closed the port,
//    and the CPU time the process uses in the second after the hang-up (a dead descriptor
//    polled in a loop would keep a core busy);
//  - noise: a byte every 20 ms for a few seconds while a pointer read waits for its reply.
//    Printed: CPU time per second.
// For reference, the CPU time of the same event loop idling for a second on an open port.
//
// Usage: tamberlo_bench_linkfaults [rounds]

#include "PtyPair.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "widgets/MessageBoxes.h"
#include "widgets/PortControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

using namespace tamberlo;
using tamberlo::test::PtyPair;

namespace {

constexpr std::int16_t PortNumber = 1;

class QuietBoxes : public MessageBoxes {
public:
    void show(const QString&, const QString&, MessageIcon) override { ++shown; }
    int shown = 0;
};

// Runs the event loop for `ms`.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() >= ms)
            return false;
        spin(1);
    }
    return true;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Link {
    QtSerialPort port;
    QuietBoxes boxes;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    PortControl control{port, tx, boxes};
};

bool linkTo(const PtyPair& pty) {
    QFile::remove(portLinkPath(PortNumber));
    return pty.isValid() && QFile::link(pty.slaveName(), portLinkPath(PortNumber));
}

struct Sample {
    double noticedMs = -1;
    double cpuMs = 0;
};

// One hang-up; -1 ms when it was not noticed within 10 s.
Sample hangUp(bool frameInFlight) {
    Sample sample;
    PtyPair pty;
    if (!linkTo(pty))
        return sample;
    Link link;
    link.control.toggle(QString::number(PortNumber));
    if (!link.port.isOpen())
        return sample;
    if (frameInFlight) {
        link.tx.SendBuf = {0x80, 0x00, 0x10, 0x00, 0x20};
        link.tx.Isd_Comm2_Send(5);
        waitFor([&] { return link.tx.SendIdx() > 0; }, 10000);
    }
    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    pty.closeMaster();
    if (waitFor([&] { return !link.control.isOpen(); }, 10000))
        sample.noticedMs = double(clock.nsecsElapsed()) / 1e6;
    spin(int(std::max<qint64>(0, 1000 - clock.elapsed())));
    sample.cpuMs = (cpuSeconds() - cpuBefore) * 1000;
    return sample;
}

double idleCpuMs() {
    PtyPair pty;
    if (!linkTo(pty))
        return -1;
    Link link;
    link.control.toggle(QString::number(PortNumber));
    const double before = cpuSeconds();
    spin(1000);
    return (cpuSeconds() - before) * 1000;
}

// CPU milliseconds per second under a byte every 20 ms, and the bytes the receiver counted.
std::pair<double, int> noise(int seconds) {
    PtyPair pty;
    if (!linkTo(pty))
        return {-1, 0};
    Link link;
    link.control.toggle(QString::number(PortNumber));
    link.receiver.setRecvCnt(0);
    link.receiver.setRecvExpect(4);
    link.tx.SendBuf = {0x06};
    link.tx.Isd_Comm2_Send(1);
    waitFor([&] { return !link.tx.isSending(); }, 10000);
    int counted = 0;
    QObject::connect(&link.port, &SerialPort::communication, [&] { ++counted; });
    const double before = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    while (clock.elapsed() < seconds * 1000) {
        pty.send(QByteArray(1, char(sent++ & 0xFF)));
        spin(20);
    }
    return {(cpuSeconds() - before) * 1000 / seconds, counted};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir runtime;
    if (!runtime.isValid())
        return 1;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QDir(runtime.path()).mkpath(QStringLiteral("tamberlo"));

    std::printf("link faults: %d rounds each\n", rounds);
    std::printf("%-28s %14s %22s\n", "case", "noticed (ms)", "CPU in the next 1 s (ms)");
    for (bool inFlight : {false, true}) {
        for (int r = 0; r < rounds; ++r) {
            const Sample s = hangUp(inFlight);
            std::printf("%-28s %14.1f %22.1f\n",
                        inFlight ? "hang-up, frame in flight" : "hang-up, idle line", s.noticedMs,
                        s.cpuMs);
        }
    }
    for (int r = 0; r < rounds; ++r)
        std::printf("%-28s %14s %22.1f\n", "reference: open, idle", "-", idleCpuMs());
    const auto [perSecond, notifications] = noise(3);
    std::printf("noise, a byte every 20 ms for 3 s: CPU %.1f ms per second, %d notifications\n",
                perSecond, notifications);
    std::printf("targets: noticed within 1000 ms, CPU after a hang-up under 150 ms\n");
    return 0;
}
