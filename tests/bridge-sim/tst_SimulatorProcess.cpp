// The real tamberlo-bridge-sim program on a scratch runtime directory: the port link, a
// reply over the pseudo-terminal, closing and reopening, hang-up, fault injection, and
// the link gone after SIGTERM. Time bounds are loose; these talk to a real terminal, and
// wait for what the simulator logs or keeps in its memory file rather than for a set time.

#include "e2e/SimulatorRig.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace tamberlo::e2e;

namespace {

using Clock = std::chrono::steady_clock;

int openRawTty(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

struct Arrival {
    QByteArray bytes;
    Clock::time_point first;
    Clock::time_point last;
};

// Reads until `count` bytes have come or the time is up.
Arrival readBytes(int fd, int count, std::chrono::milliseconds timeout) {
    Arrival arrival;
    const auto deadline = Clock::now() + timeout;
    while (arrival.bytes.size() < count && Clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(&pfd, 1, int(std::max<long long>(left.count(), 0))) <= 0)
            continue;
        char buffer[64];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (arrival.bytes.isEmpty())
            arrival.first = Clock::now();
        arrival.last = Clock::now();
        arrival.bytes.append(buffer, got);
    }
    return arrival;
}

bool writeByte(int fd, char byte) {
    return ::write(fd, &byte, 1) == 1;
}

} // namespace

class SimulatorProcessTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RuntimeDir> runtime_;

    QString linkPath(int port) const { return runtime_->linkPath(port); }

    // The simulator as port `port` with its byte log and these options, started; the case
    // waits for its link.
    std::unique_ptr<Simulator> launch(int port, const QStringList& options = {}) {
        auto sim = std::make_unique<Simulator>(*runtime_);
        sim->launch(port, options);
        return sim;
    }

    // Whether message `n` (from 1) has at least `rows` rows in the memory file.
    static bool hasRows(const QString& path, int n, int rows) {
        const auto runs = memoryRuns(path);
        return runs.size() >= n && runs[n - 1].second - runs[n - 1].first + 1 >= rows;
    }

    // Sends the frame a byte at a time, 50 ms apart like the panel.
    static void sendFrame(int fd, const QByteArray& frame) {
        for (char byte : frame) {
            QVERIFY(writeByte(fd, byte));
            QTest::qWait(50);
        }
    }

    static void stop(Simulator& sim) {
        sim.process().terminate(); // SIGTERM
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
    }

#ifdef __linux__
    // User plus system CPU time of a process, in seconds.
    static double cpuSeconds(qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray line = stat.readAll();
        // Fields after the command name, which ends with ')': state is field 3, utime 14.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        return (fields.at(11).toDouble() + fields.at(12).toDouble()) / sysconf(_SC_CLK_TCK);
    }
#endif

private slots:
    void init() {
        runtime_ = std::make_unique<RuntimeDir>();
        QVERIFY(runtime_->isValid());
    }

    void answersTheDeviceIdAndRemovesItsLinkOnSigterm() {
        auto sim = launch(1);
        const QString device = sim->waitForLink(1);
        QVERIFY2(!device.isEmpty(), qPrintable(sim->errorOutput()));
        QVERIFY(sim->process().canReadLine() || sim->process().waitForReadyRead(5000));
        QCOMPARE(QString::fromLocal8Bit(sim->process().readLine().trimmed()), device);

        const int fd = openRawTty(linkPath(1));
        QVERIFY(fd >= 0);
        QVERIFY(writeByte(fd, 0x09));
        const Arrival reply = readBytes(fd, 3, std::chrono::seconds(3));
        // Powered down at row 0x010: SR0 = 0x0200, then the ISD1760's ID.
        QCOMPARE(reply.bytes.toHex(' '), QByteArray("00 02 a0"));
        ::close(fd);

        stop(*sim);
        QVERIFY(!QFileInfo(linkPath(1)).isSymLink());
    }

    void keepsAnsweringWhenThePortIsClosedAndReopened() {
        auto sim = launch(2, {QStringLiteral("--model"), QStringLiteral("ISD1730")});
        QVERIFY(!sim->waitForLink(2).isEmpty());
        const auto closed = [&] {
            return sim->events().count(QStringLiteral("the panel closed the port"));
        };

        for (int round = 0; round < 3; ++round) {
            const int fd = openRawTty(linkPath(2));
            QVERIFY(fd >= 0);
            sendFrame(fd, QByteArray("\x09"));
            const Arrival reply = readBytes(fd, 3, std::chrono::seconds(3));
            QCOMPARE(reply.bytes.size(), 3);
            QCOMPARE(quint8(reply.bytes.at(2)), quint8(0x80));
            ::close(fd);
            // The simulator has seen the port closed before it is opened again.
            QVERIFY(waitFor([&] { return closed() == round + 1; }));
        }
        QCOMPARE(sim->process().state(), QProcess::Running);

#ifdef __linux__
        // With no one on the device side the master reports a hang-up on every poll; the
        // simulator must wait, not spin.
        const double before = cpuSeconds(sim->process().processId());
        QTest::qWait(1000); // the span the CPU time is measured over
        const double used = cpuSeconds(sim->process().processId()) - before;
        QVERIFY2(before >= 0 && used < 0.3, qPrintable(QStringLiteral("%1 s").arg(used)));
#endif
        stop(*sim);
    }

    void refusesALiveLinkAndReplacesAStaleOne() {
        QVERIFY(QDir().mkpath(runtime_->path() + QStringLiteral("/tamberlo")));
        const QString stale = QStringLiteral("/dev/pts/tamberlo-missing-device");
        QVERIFY(QFile::link(stale, linkPath(3)));

        auto first = launch(3);
        const QString device = first->waitForLink(3);
        QVERIFY(!device.isEmpty());
        QVERIFY(device != stale);

        Simulator second(*runtime_);
        QVERIFY(second.launchWith({QStringLiteral("--port"), QStringLiteral("3")}));
        QVERIFY(second.waitForExit());
        QCOMPARE(second.process().exitCode(), 2);
        QVERIFY(second.errorOutput().contains(QStringLiteral("taken")));
        QCOMPARE(QFileInfo(linkPath(3)).symLinkTarget(), device);

        stop(*first);
    }

    void hangsUpAfterTheGivenNumberOfBytes() {
        auto sim = launch(4, {QStringLiteral("--hangup-after"), QStringLiteral("2")});
        QVERIFY(!sim->waitForLink(4).isEmpty());
        const int fd = openRawTty(linkPath(4));
        QVERIFY(fd >= 0);
        sendFrame(fd, QByteArray("\x01\x09"));

        QVERIFY(sim->waitForExit());
        QCOMPARE(sim->process().exitCode(), 0);
        QVERIFY(!QFileInfo(linkPath(4)).isSymLink());
        pollfd pfd{fd, POLLIN, 0};
        QCOMPARE(poll(&pfd, 1, 2000), 1);
        QVERIFY(pfd.revents & (POLLHUP | POLLERR));
        char byte;
        QVERIFY(::read(fd, &byte, 1) <= 0); // no reply to the second byte, only the hang-up
        ::close(fd);
    }

    void splitsRepliesAndAddsSurplusBytes() {
        auto sim = launch(5, {QStringLiteral("--split-ms"), QStringLiteral("40"),
                              QStringLiteral("--extra-bytes"), QStringLiteral("2")});
        QVERIFY(!sim->waitForLink(5).isEmpty());
        const int fd = openRawTty(linkPath(5));
        QVERIFY(fd >= 0);
        QVERIFY(writeByte(fd, 0x09));
        const Arrival reply = readBytes(fd, 5, std::chrono::seconds(5));
        QCOMPARE(reply.bytes.toHex(' '), QByteArray("00 02 a0 ee ee"));
        // Five bytes 40 ms apart span 160 ms; allow for a slow scheduler on the short side.
        QVERIFY(reply.last - reply.first >= std::chrono::milliseconds(120));
        ::close(fd);
        stop(*sim);
    }

    void nothingWaitsInTheTerminalBeforeThePortIsOpened() {
        auto sim = launch(6, {QStringLiteral("--noise-ms"), QStringLiteral("40")});
        QVERIFY(!sim->waitForLink(6).isEmpty());
        // A dozen noise bytes fall due with the port closed (and are dropped).
        QVERIFY(waitFor([&] {
            const QList<LoggedByte> log = sim->log();
            return std::count_if(log.begin(), log.end(), [](const LoggedByte& b) {
                       return b.direction == QLatin1String("drp");
                   }) >= 12;
        }));

        const int fd = openRawTty(linkPath(6));
        QVERIFY(fd >= 0);
        const Arrival early = readBytes(fd, 20, std::chrono::milliseconds(60));
        QVERIFY2(early.bytes.size() < 4, early.bytes.toHex(' ').constData());
        // Once the port is open the noise reaches it.
        const Arrival later = readBytes(fd, 3, std::chrono::seconds(3));
        QCOMPARE(later.bytes.size(), 3);
        ::close(fd);
        stop(*sim);
    }

    // The chip's messages outlive the simulator: recorded, then the simulator stopped
    // (or killed in the middle of a recording), then started again on the same file.
    void keepsTheMessagesInItsMemoryFile_data() {
        QTest::addColumn<bool>("kill");
        // Two messages of about four rows; the second one ended by STOP, or not at all.
        QTest::newRow("stopped by SIGTERM") << false;
        QTest::newRow("killed while recording") << true;
    }
    void keepsTheMessagesInItsMemoryFile() {
        QFETCH(bool, kill);
        const QString memory = runtime_->path() + QStringLiteral("/chip.memory");
        const QStringList options{QStringLiteral("--memory"), memory};
        auto sim = launch(7, options);
        QVERIFY(!sim->waitForLink(7).isEmpty());
        QVERIFY(QFileInfo::exists(memory)); // a missing file is an empty chip, written at once
        int fd = openRawTty(linkPath(7));
        QVERIFY(fd >= 0);
        // Each message recorded for three rows, as the memory file tells.
        sendFrame(fd, QByteArray("\x01\x41")); // PU, REC
        QVERIFY(waitFor([&] { return hasRows(memory, 1, 3); }));
        sendFrame(fd, QByteArray("\x02\x41")); // STOP, REC again
        QVERIFY(waitFor([&] { return hasRows(memory, 2, 3); }));
        if (kill) {
            sim->process().kill();
            QVERIFY(sim->waitForExit());
        } else {
            sendFrame(fd, QByteArray("\x02"));
            stop(*sim);
        }
        ::close(fd);

        QFile file(memory);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        // Header, model, two runs of rows and the empty piece after the last line break.
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(1), QByteArray("model ISD1760"));
        QVERIFY2(lines.at(2).startsWith("rows 0x010 ") && lines.at(2).endsWith(" eom"),
                 lines.at(2).constData());
        QVERIFY2(lines.at(3).endsWith(" eom") != kill, lines.at(3).constData());
        const QByteArray lastRow = lines.at(3).split(' ').at(2);

        // Started again: RESET puts the record pointer after the newest message.
        sim = launch(7, options);
        QVERIFY(!sim->waitForLink(7).isEmpty());
        fd = openRawTty(linkPath(7));
        QVERIFY(fd >= 0);
        sendFrame(fd, QByteArray("\x01\x08")); // PU, RD_REC_PTR
        const Arrival reply = readBytes(fd, 4, std::chrono::seconds(3));
        QCOMPARE(reply.bytes.size(), 4);
        const int recordPointer = (quint8(reply.bytes.at(2)) << 8) | quint8(reply.bytes.at(3));
        QCOMPARE(recordPointer, lastRow.toInt(nullptr, 16) + 1);
        ::close(fd);
        stop(*sim);
    }

    void rejectsBadOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("memoryFile"); // written to <dir>/chip.memory first
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown model")
            << QStringList{QStringLiteral("--model"), QStringLiteral("ISD9999")} << QByteArray()
            << "unknown model ISD9999";
        QTest::newRow("port not a number")
            << QStringList{QStringLiteral("--port"), QStringLiteral("x")} << QByteArray()
            << "--port";
        QTest::newRow("port too large")
            << QStringList{QStringLiteral("--port"), QStringLiteral("70000")} << QByteArray()
            << "--port";
        QTest::newRow("negative delay")
            << QStringList{QStringLiteral("--reply-delay-ms"), QStringLiteral("-5")} << QByteArray()
            << "--reply-delay-ms";
        QTest::newRow("corrupt memory file")
            << QStringList{QStringLiteral("--memory"), QStringLiteral("chip.memory")}
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1760\nrows 0x010 zz\n")
            << "the memory file chip.memory is not usable: line 3: rows are written as 0x";
        QTest::newRow("memory file of another model")
            << QStringList{QStringLiteral("--memory"), QStringLiteral("chip.memory"),
                           QStringLiteral("--model"), QStringLiteral("ISD1730")}
            << QByteArray("tamberlo-bridge-sim memory 1\nmodel ISD1760\n")
            << "line 2: the memory of an ISD1760, but the simulator runs an ISD1730";
        QTest::newRow("memory file in a missing folder")
            << QStringList{QStringLiteral("--memory"), QStringLiteral("missing/chip.memory")}
            << QByteArray() << "cannot write the memory file missing/chip.memory";
    }
    void rejectsBadOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, memoryFile);
        QFETCH(QString, message);
        QFile file(runtime_->path() + QStringLiteral("/chip.memory"));
        if (!memoryFile.isEmpty()) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(memoryFile), memoryFile.size());
            file.close();
        }
        Simulator sim(*runtime_);
        QVERIFY(sim.launchWith(arguments));
        QVERIFY(sim.waitForExit());
        QCOMPARE(sim.process().exitCode(), 1);
        const QString error = sim.errorOutput();
        QVERIFY2(error.contains(message), qPrintable(error));
        if (!memoryFile.isEmpty()) { // a refused memory file is left as it was
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), memoryFile);
        }
        QVERIFY(!QFileInfo(runtime_->path() + QStringLiteral("/tamberlo")).exists() ||
                QDir(runtime_->path() + QStringLiteral("/tamberlo")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(SimulatorProcessTest)
#include "tst_SimulatorProcess.moc"
