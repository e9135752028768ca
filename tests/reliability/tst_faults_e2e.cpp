// Faults on the link, end to end: the real window and serial adapter against the bridge
// simulator, with the simulator's fault injection. The adapter pulled in the middle of a
// five-byte frame (the panel closes within a second and then sits idle), replies split byte by
// byte, late, or followed by surplus bytes (what the panel shows, and whether the next command
// works), a line full of unsolicited bytes, a port held by another process, and port links
// that lead to no serial device.

#include "e2e/SimulatorRig.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <sys/resource.h>

using namespace tamberlo;
using namespace tamberlo::e2e;

namespace {

// CPU time this process has used, user and system, in seconds.
double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Microseconds on the monotonic clock, the one of the simulator's log.
qint64 monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const QRegularExpression rangeReply(QStringLiteral("^(([0-9A-F]{2}) ([0-9A-F]{2}) )\\1\\2 $"));

} // namespace

class TestFaultsE2e : public QObject {
    Q_OBJECT

    std::unique_ptr<RuntimeDir> runtime_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Panel> panel_;
    int nextPort_ = 41;

    bool startSimulator(const QStringList& options = {}, int port = 0) {
        return tamberlo::e2e::startSimulator(sim_, *runtime_, port ? port : nextPort_++, options);
    }

    // Bytes the simulator has written so far.
    int bytesOut() const {
        int n = 0;
        for (const LoggedByte& b : sim_->log())
            n += b.direction == QLatin1String("out") ? 1 : 0;
        return n;
    }
    // Waits until the simulator has written `n` bytes in all, then a little longer for the
    // panel to take them in.
    bool repliesOut(int n) {
        const bool out = waitFor([&] { return bytesOut() >= n; }, 5000);
        QTest::qWait(150);
        return out;
    }

private slots:
    void initTestCase() {
        runtime_ = std::make_unique<RuntimeDir>();
        QVERIFY(runtime_->isValid());
    }

    void cleanup() {
        if (QTest::currentTestFailed() && sim_)
            qInfo("%s", qPrintable(sim_->tail()));
        panel_.reset();
        sim_.reset();
    }

    // The adapter is pulled after byte `after` of a five-byte frame: the panel shows the port
    // Closed within a second of it, and then uses next to no CPU time, so it is not spinning
    // on the dead device.
    void hangUpInAFrame_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("after");
        QTest::newRow("SET_PLAY after byte 2") << QStringLiteral("设置播放地址") << 2;
        QTest::newRow("SET_ERASE after byte 4") << QStringLiteral("设置擦除地址") << 4;
    }
    void hangUpInAFrame() {
        QFETCH(QString, button);
        QFETCH(int, after);
        QVERIFY(startSimulator({QStringLiteral("--hangup-after"), QString::number(after)}));
        panel_ = std::make_unique<Panel>();
        Panel& p = *panel_;
        QVERIFY(p.openPort(sim_->port()));

        p.button(button)->click();
        qint64 closedUs = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            QTest::qWait(2);
            if (p.isShownClosed()) {
                closedUs = monotonicUs();
                break;
            }
        }
        QVERIFY2(closedUs > 0, "the panel still shows the port open 5 s after the click");
        QTRY_VERIFY_WITH_TIMEOUT(!sim_->isRunning(), 5000);
        const QList<LoggedByte> in = sim_->received();
        QCOMPARE(in.size(), after);
        const double closedAfterMs = double(closedUs - in.last().us) / 1000.0;
        qInfo("Closed %.1f ms after the hang-up", closedAfterMs);
        QVERIFY2(closedAfterMs < 1000, qPrintable(QString::number(closedAfterMs)));
        QVERIFY(!p.form().port().isOpen());
        QVERIFY(!p.form().transmitter().isSending());

        const double before = cpuSeconds();
        QTest::qWait(2000);
        const double used = cpuSeconds() - before;
        qInfo("CPU time over the 2 s after the hang-up: %.3f s", used);
        QVERIFY2(used < 0.2, qPrintable(QString::number(used)));

        QCOMPARE(p.boxes.boxes.size(), 1);
        QCOMPARE(p.boxes.boxes[0].text, QStringLiteral("串口已断开"));
    }

    // Replies that come in pieces, late, or with surplus bytes, to a pointer read and a range
    // command, and the read after them. A reply is recognised by its byte count alone:
    //  - split or late, it is recognised as always;
    //  - surplus bytes that come in after the last byte of a reply, in notifications of their
    //    own, start a new count. A read clears it. A range command does not: its count reaches
    //    5 early, on the third byte of its reply, and its box shows those three bytes with two
    //    left over from the read before ("mixed");
    //  - surplus bytes in the same write as the reply push the count past the reply's length,
    //    and no reply is recognised at all.
    // In every case the frames reach the chip whole, and the panel sends nothing else.
    void unusualReplies_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("extra");
        QTest::addColumn<bool>("readShows");
        QTest::addColumn<QString>("rangeBox"); // "reply", "mixed" or "none"
        QTest::addColumn<bool>("nextReadShows");
        const auto opts = [](const QString& text) { return text.split(QLatin1Char(' ')); };
        QTest::newRow("split byte by byte")
            << opts("--split-ms 60") << 0 << true << "reply" << true;
        QTest::newRow("delayed 400 ms")
            << opts("--reply-delay-ms 400") << 0 << true << "reply" << true;
        QTest::newRow("delayed and split")
            << opts("--reply-delay-ms 300 --split-ms 40") << 0 << true << "reply" << true;
        QTest::newRow("surplus, split")
            << opts("--extra-bytes 2 --split-ms 60") << 2 << true << "mixed" << true;
        QTest::newRow("surplus, one write")
            << opts("--extra-bytes 2") << 2 << false << "none" << false;
    }
    void unusualReplies() {
        QFETCH(QStringList, options);
        QFETCH(int, extra);
        QFETCH(bool, readShows);
        QFETCH(QString, rangeBox);
        QFETCH(bool, nextReadShows);
        QVERIFY(startSimulator(options));
        panel_ = std::make_unique<Panel>();
        Panel& p = *panel_;
        QVERIFY(p.openPort(sim_->port()));
        QVERIFY(p.resetAndPowerUp()); // no replies to these two

        QLineEdit* play = p.edit(QStringLiteral("Play_Text"));
        QLineEdit* rec = p.edit(QStringLiteral("Rec_Text"));
        int out = 0;
        QVERIFY(p.click(QStringLiteral("读播放地址")));
        QVERIFY(repliesOut(out += 4 + extra));
        QCOMPARE(play->text(), readShows ? QStringLiteral("00 10 ") : QString());

        QVERIFY(p.click(QStringLiteral("设置播放地址")));
        QVERIFY(repliesOut(out += 5 + extra));
        const int boxes = rangeBox == QLatin1String("none") ? 0 : 1;
        QCOMPARE(p.boxes.boxes.size(), boxes);
        if (boxes) {
            const QString text = p.boxes.boxes[0].text;
            qInfo("range reply box: \"%s\"", qPrintable(text));
            QCOMPARE(p.boxes.boxes[0].icon, MessageIcon::Information);
            QCOMPARE(rangeReply.match(text).hasMatch(), rangeBox == QLatin1String("reply"));
            QString firstThree;
            for (const LoggedByte& b : sim_->log())
                if (b.note.startsWith(QLatin1String("SET_PLAY reply ")) && firstThree.size() < 9)
                    firstThree +=
                        QStringLiteral("%1 ").arg(b.value, 2, 16, QLatin1Char('0')).toUpper();
            QVERIFY2(text.startsWith(firstThree), qPrintable(firstThree));
        }

        QVERIFY(p.click(QStringLiteral("读录音地址")));
        QVERIFY(repliesOut(out += 4 + extra));
        QCOMPARE(rec->text(), nextReadShows ? QStringLiteral("00 10 ") : QString());
        qInfo("after the last reply: RecvCnt %d", p.form().receiver().RecvCnt);

        QList<quint8> in;
        for (const LoggedByte& b : sim_->received())
            in << b.value;
        QCOMPARE(in, (QList<quint8>{0x03, 0x01, 0x06, 0x80, 0x00, 0x10, 0x00, 0x20, 0x08}));
        QVERIFY(p.isShownOpen());
        QCOMPARE(p.boxes.boxes.size(), boxes);
    }

    // A command given while a five-byte frame is going out. The bridge frames by opcode: it
    // takes whatever follows an opcode as that command's data. So the frame goes out whole
    // and the new command after it; were it cut short, the chip would take the read's opcode
    // as an address byte of the erase range. The erase's reply then counts for the read (the
    // receiver knows only the command in flight), so that read shows nothing; the next one
    // does.
    void commandDuringAFrameFollowsIt() {
        QVERIFY(startSimulator());
        panel_ = std::make_unique<Panel>();
        Panel& p = *panel_;
        QVERIFY(p.openPort(sim_->port()));
        QVERIFY(p.resetAndPowerUp());

        p.button(QStringLiteral("设置擦除地址"))->click();
        QVERIFY(waitFor([&] { return sim_->received().size() >= 3; }));
        p.button(QStringLiteral("读播放地址"))->click();
        QVERIFY(waitFor([&] { return sim_->received().size() >= 8; }));
        QVERIFY(repliesOut(5 + 4));

        QList<quint8> in;
        QStringList frames;
        for (const LoggedByte& b : sim_->received()) {
            in << b.value;
            if (b.note.contains(QLatin1String("5/5")))
                frames << b.note;
        }
        QCOMPARE(frames, QStringList{QStringLiteral("SET_ERASE 5/5: SET_ERASE 0x010..0x020")});
        QCOMPARE(in, (QList<quint8>{0x03, 0x01, 0x82, 0x00, 0x10, 0x00, 0x20, 0x06}));
        QCOMPARE(sim_->commands(QStringLiteral("RD_PLAY_PTR")).size(), 1);
        QCOMPARE(p.edit(QStringLiteral("Play_Text"))->text(), QString());

        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
    }

    // An unsolicited byte every 20 ms for 10 s while a pointer read is in flight: the panel
    // counts them against the read, writes nothing, keeps the port, and stays nearly idle.
    // The simulator's noise has no end, so the noise is ended by replacing the bridge on the
    // same port number; the receive state the noise left (a stale count, a buffer of noise)
    // is kept across the port's close and reopen, and a read, which clears the count, works.
    void noiseThenARead() {
        QVERIFY(startSimulator({QStringLiteral("--noise-ms"), QStringLiteral("20")}));
        const int port = sim_->port();
        panel_ = std::make_unique<Panel>();
        Panel& p = *panel_;
        QVERIFY(p.openPort(port));
        QVERIFY(p.click(QStringLiteral("读播放地址")));

        const double before = cpuSeconds();
        QTest::qWait(10000);
        const double used = cpuSeconds() - before;
        int noise = 0;
        for (const LoggedByte& b : sim_->log())
            noise +=
                b.note == QLatin1String("noise") && b.direction == QLatin1String("out") ? 1 : 0;
        const QString shown = p.edit(QStringLiteral("Play_Text"))->text();
        qInfo("%d noise bytes in 10 s, CPU %.3f s, Play_Text \"%s\", RecvCnt %d", noise, used,
              qPrintable(shown), p.form().receiver().RecvCnt);
        QVERIFY2(noise >= 400, qPrintable(QString::number(noise)));
        QVERIFY2(used < 2.0, qPrintable(QString::number(used)));
        QVERIFY(p.isShownOpen());
        QCOMPARE(sim_->received().size(), 1); // only the read's own byte
        QVERIFY(p.boxes.boxes.isEmpty());
        // Noise taken for pointer replies shows as pointers, never as anything else.
        QVERIFY(QRegularExpression(QStringLiteral("^(|[0-9A-F]{2} [0-9A-F]{2} )$"))
                    .match(shown)
                    .hasMatch());

        p.clickPortButton(port);
        QVERIFY(p.isShownClosed());
        sim_->stop();
        const std::uint8_t staleCount = p.form().receiver().RecvCnt;
        QVERIFY(startSimulator({}, port));
        QVERIFY(p.openPort(port));
        QCOMPARE(p.form().receiver().RecvCnt, staleCount);
        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
        QCOMPARE(p.readInto(QStringLiteral("当前地址"), QStringLiteral("CurrentRow")),
                 QStringLiteral("00 10 "));
    }

    // Another program holds the port: the panel stays Closed and says the port is busy;
    // once the other program lets go, the panel opens it and works.
    void portHeldByAnotherProcess() {
        QVERIFY(startSimulator());
        QProcess holder;
        holder.start(QStringLiteral(TAMBERLO_PORT_HOLDER), {QString::number(sim_->port())});
        QVERIFY(holder.waitForStarted(5000));
        QVERIFY(waitFor([&] { return holder.canReadLine() || holder.state() != QProcess::Running; },
                        5000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("open"));

        panel_ = std::make_unique<Panel>();
        Panel& p = *panel_;
        p.clickPortButton(sim_->port());
        QVERIFY(p.isShownClosed());
        QVERIFY(!p.form().port().isOpen());
        QCOMPARE(p.boxes.boxes.size(), 1);
        qInfo("told: %s", qPrintable(p.boxes.boxes[0].text));
        QVERIFY2(p.boxes.boxes[0].text.startsWith(QStringLiteral("串口打开失败")) &&
                     p.boxes.boxes[0].text.contains(QStringLiteral("串口正被其他程序使用")),
                 qPrintable(p.boxes.boxes[0].text));
        QCOMPARE(p.boxes.boxes[0].title, QStringLiteral("串口状态"));

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(holder.exitCode(), 0);
        QVERIFY(p.openPort(sim_->port()));
        QVERIFY(p.click(QStringLiteral("3器件ID")));
        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), 2, ReplyMs);
        QCOMPARE(p.boxes.boxes[1].text, QStringLiteral("ISD1760"));
    }

    // Port links that lead to no serial device: the panel stays Closed and says why, every
    // time it is asked.
    void linkToNoDevice_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("told");
        QTest::newRow("device gone") << "/dev/pts/987654"
                                     << "/dev/pts/987654";
        QTest::newRow("not a terminal") << "/dev/null"
                                        << "/dev/null";
        QTest::newRow("plain file") << "plain-file"
                                    << "plain-file";
        QTest::newRow("folder") << "."
                                << "串口打开失败";
    }
    void linkToNoDevice() {
        QFETCH(QString, target);
        QFETCH(QString, told);
        static int port = 90;
        ++port;
        QVERIFY(QDir().mkpath(runtime_->path() + QStringLiteral("/tamberlo")));
        QString resolved = target;
        if (!target.startsWith(QLatin1Char('/'))) {
            resolved = runtime_->path() + QLatin1Char('/') + target;
            if (target != QLatin1String(".")) {
                QFile file(resolved);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("not a serial device\n");
            }
        }
        QFile::remove(runtime_->linkPath(port));
        QVERIFY(QFile::link(resolved, runtime_->linkPath(port)));

        panel_ = std::make_unique<Panel>();
        Panel& p = *panel_;
        for (int attempt = 1; attempt <= 2; ++attempt) {
            p.clickPortButton(port);
            QVERIFY(p.isShownClosed());
            QVERIFY(!p.form().port().isOpen());
            QCOMPARE(p.boxes.boxes.size(), attempt);
            const QString text = p.boxes.boxes.last().text;
            QVERIFY2(text.startsWith(QStringLiteral("串口打开失败")) && text.contains(told),
                     qPrintable(text));
        }
        qInfo("told: %s", qPrintable(p.boxes.boxes.last().text));
        QFile::remove(runtime_->linkPath(port));
    }
};

QTEST_MAIN(TestFaultsE2e)
#include "tst_faults_e2e.moc"
