// tamberlo-cli benchmark against tamberlo-bridge-sim (pseudo-terminal, real time).
//
// 1. `tamberlo-cli id` from process start to exit, side by side in one run with
//    id_pyserial.py, which makes the same exchange (one-byte DEVID frame, three reply
//    bytes) through pyserial. Runs alternate, after one warm-up run of each.
// 2. `tamberlo-cli map` on a chip holding 20 messages (recorded here through the chip client),
//    wall time per run and per message; and the same map in this process, timing each step
//    (FWD + pointer read) against the two frames' pacing.
//
// Usage: tamberlo_bench_cli [runs]   (default 20 id runs each, 3 map runs)

#include "chip/Catalogue.h"
#include "chip/ChipClient.h"
#include "chip/ChipMap.h"
#include "link/QtSerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tamberlo;

namespace {

constexpr int Port = 1;
constexpr int Messages = 20;

struct Stats {
    double median = 0, min = 0, max = 0, mean = 0;
};

Stats stats(std::vector<double> v) {
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    double sum = 0;
    for (double x : v)
        sum += x;
    s.mean = sum / double(v.size());
    return s;
}

struct Timed {
    double ms = 0;
    int exit = -1;
    QByteArray out;
    QByteArray err;
};

Timed timedRun(const QString& program, const QStringList& args) {
    Timed t;
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return t;
    }
    t.ms = double(clock.nsecsElapsed()) / 1e6;
    t.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    t.out = process.readAllStandardOutput();
    t.err = process.readAllStandardError();
    return t;
}

// Runs the event loop until the request is done (a benchmark may wait; the library does not).
ChipResult call(ChipClient& client, std::vector<std::uint8_t> frame, bool confirm = false) {
    ChipResult result;
    QEventLoop loop;
    client.submit({std::move(frame), confirm}, [&](const ChipResult& r) {
        result = r;
        loop.quit();
    });
    if (client.pending() > 0)
        loop.exec();
    return result;
}

void pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool fail(const QString& what) {
    std::fprintf(stderr, "tamberlo_bench_cli: %s\n", qPrintable(what));
    return false;
}

// Erases the chip and records `count` short messages through the chip client.
bool fillChip(int count) {
    QtSerialPort port;
    port.setPortNumber(Port);
    if (!port.open())
        return fail(QStringLiteral("cannot open port %1: %2").arg(Port).arg(port.errorText()));
    ChipClient client(port);
    for (std::uint8_t op : {Opcode::RESET, Opcode::PU}) {
        if (!call(client, singleFrame(op), op == Opcode::PU).ok())
            return fail(QStringLiteral("bring-up failed"));
    }
    if (!call(client, singleFrame(Opcode::G_ERASE), true).ok())
        return fail(QStringLiteral("G_ERASE failed"));
    for (int i = 0; i < count; ++i) {
        // Wait out the erase, or the last STOP, before the next REC.
        for (int tries = 0; tries < 50; ++tries) {
            const ChipResult cur = call(client, singleFrame(Opcode::CurrentAddress));
            if (cur.decoded.address && cur.decoded.address->ready())
                break;
        }
        const ChipResult rec = call(client, singleFrame(Opcode::REC), true);
        if (!rec.ok())
            return fail(QStringLiteral("REC %1: %2").arg(i + 1).arg(rec.errorText));
        pause(100 + 40 * (i % 5)); // one or two rows of 125 ms
        const ChipResult stop = call(client, singleFrame(Opcode::STOP), true);
        if (!stop.ok())
            return fail(QStringLiteral("STOP %1: %2").arg(i + 1).arg(stop.errorText));
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 20;

    QTemporaryDir runtime;
    if (!runtime.isValid())
        return 1;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    QProcess sim;
    sim.start(QStringLiteral(TAMBERLO_BRIDGE_SIM),
              {QStringLiteral("--port"), QString::number(Port)});
    const QString link = runtime.path() + QStringLiteral("/tamberlo/port%1").arg(Port);
    // Its first line of output, the device's path, comes once the link is in place.
    while (!sim.canReadLine() && sim.waitForReadyRead(10000)) {
    }
    if (!QFileInfo(link).exists()) {
        fail(QStringLiteral("the simulator made no port link"));
        return 1;
    }

    // ---- id ------------------------------------------------------------------------------
    const QString cli = QStringLiteral(TAMBERLO_CLI);
    const QString python = QStringLiteral(TAMBERLO_PYTHON3);
    const QStringList script{QStringLiteral(TAMBERLO_PYSERIAL_SCRIPT), QString::number(Port)};
    const Timed probe = timedRun(python, script);
    const bool haveReference = probe.exit == 0;
    if (!haveReference)
        std::fprintf(stderr, "pyserial reference unavailable (install python3-serial): %s\n",
                     probe.err.constData());
    const Timed warm = timedRun(cli, {QStringLiteral("id")});
    if (warm.exit != 0) {
        fail(QStringLiteral("tamberlo-cli id failed: ") + QString::fromLocal8Bit(warm.err));
        return 1;
    }
    std::vector<double> cliMs, pyMs;
    for (int i = 0; i < runs; ++i) {
        const Timed c = timedRun(cli, {QStringLiteral("id")});
        if (c.exit == 0)
            cliMs.push_back(c.ms);
        if (haveReference) {
            const Timed p = timedRun(python, script);
            if (p.exit == 0)
                pyMs.push_back(p.ms);
        }
    }
    const Stats c = stats(cliMs), p = stats(pyMs);
    std::printf("id, process start to exit, %d runs each (alternating):\n", runs);
    std::printf("  %-26s median %7.1f ms  mean %7.1f  min %7.1f  max %7.1f  (%zu ok)\n",
                "tamberlo-cli id", c.median, c.mean, c.min, c.max, cliMs.size());
    if (haveReference) {
        std::printf("  %-26s median %7.1f ms  mean %7.1f  min %7.1f  max %7.1f  (%zu ok)\n",
                    "id_pyserial.py (pyserial)", p.median, p.mean, p.min, p.max, pyMs.size());
        std::printf("  ratio tamberlo-cli / pyserial (medians): %.2fx (goal: at most 1.0x)\n",
                    c.median / p.median);
    }

    // ---- map -----------------------------------------------------------------------------
    if (!fillChip(Messages))
        return 1;
    std::vector<double> mapMs;
    int frames = 0;
    for (int i = 0; i < 3; ++i) {
        const Timed m = timedRun(cli, {QStringLiteral("--json"), QStringLiteral("map")});
        const QJsonObject doc = QJsonDocument::fromJson(m.out).object();
        const int found = doc.value(QStringLiteral("messages")).toArray().size();
        if (m.exit != 0 || found != Messages) {
            fail(QStringLiteral("map found %1 messages (exit %2): %3")
                     .arg(found)
                     .arg(m.exit)
                     .arg(QString::fromLocal8Bit(m.err)));
            return 1;
        }
        frames = doc.value(QStringLiteral("frames")).toInt();
        mapMs.push_back(m.ms);
    }
    const Stats m = stats(mapMs);
    std::printf("\nmap, %d messages, %zu runs, process start to exit:\n", Messages, mapMs.size());
    std::printf("  tamberlo-cli map           median %7.1f ms  min %7.1f  max %7.1f  (%d frames)\n",
                m.median, m.min, m.max, frames);
    std::printf("  per message                median %7.1f ms (whole run / %d)\n",
                m.median / Messages, Messages);

    // The same map in this process, each step timed: FWD + RD_PLAY_PTR and its reply.
    QtSerialPort port;
    port.setPortNumber(Port);
    if (!port.open()) {
        fail(QStringLiteral("cannot open port %1").arg(Port));
        return 1;
    }
    ChipClient client(port);
    ChipMapper mapper(client);
    std::vector<double> steps;
    QElapsedTimer stepClock;
    QEventLoop loop;
    QObject::connect(&mapper, &ChipMapper::progress, [&](int, int) {
        if (stepClock.isValid())
            steps.push_back(double(stepClock.nsecsElapsed()) / 1e6);
        stepClock.start();
    });
    QObject::connect(&mapper, &ChipMapper::finished, &loop, &QEventLoop::quit);
    QElapsedTimer whole;
    whole.start();
    mapper.start();
    loop.exec();
    const double wholeMs = double(whole.nsecsElapsed()) / 1e6;
    const Stats s = stats(steps);
    std::printf("  in process: %zu messages in %.1f ms; per step (FWD + pointer read) median %.1f "
                "ms, min %.1f, max %.1f\n",
                mapper.map().starts.size(), wholeMs, s.median, s.min, s.max);
    std::printf("  pacing floor per message: 2 frames x %d ms = %d ms\n", ChipClient::PaceMs,
                2 * ChipClient::PaceMs);
    port.close();

    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
