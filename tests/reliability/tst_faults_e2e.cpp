// Faults on the link, end to end: the real window and serial adapter against the bridge
// simulator, with the simulator's fault injection. The adapter pulled in the middle of a
// five-byte frame (the panel closes by itself and says so once), replies split byte by byte,
// late, or followed by surplus bytes (what the panel shows, and whether the next command
// works), bytes that come in while a reply's box is open, the automatic stop answered while
// another box is open, a line full of unsolicited bytes, a port held by another process, and
// port links that lead to no serial device. Every wait is for an event, with a generous bound;
// how fast the panel notices a hang-up and how idle it stays are figures of bench/linkfaults.

#include "e2e/SimulatorRig.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <limits>

using namespace tamberlo;
using namespace tamberlo::e2e;
using tamberlo::test::FakeMessageBoxes;

namespace {

// Bounds for events that take a few hundred milliseconds on an idle machine.
constexpr int EventMs = 15000;

const QRegularExpression rangeReply(QStringLiteral("^(([0-9A-F]{2}) ([0-9A-F]{2}) )\\1\\2 $"));

} // namespace

class TestFaultsE2e : public QObject {
    Q_OBJECT

    Rig rig_{41};

    // Bytes the simulator has written so far.
    int bytesOut() const {
        int n = 0;
        for (const LoggedByte& b : rig_.sim->log())
            n += b.direction == QLatin1String("out") ? 1 : 0;
        return n;
    }
    // Waits until the simulator has written `n` bytes in all and the panel has dealt with
    // them: `shown` holds (the reply's action ran), or the receiver has counted `count` bytes.
    bool repliesOut(int n, const std::function<bool()>& shown, int count) {
        return waitFor([&] { return bytesOut() >= n; }, EventMs) &&
               waitFor(
                   [&] {
                       const Receiver& rx = rig_.panel->form().receiver();
                       return shown() || (rx.RecvCnt() == count && !rx.isActionDue());
                   },
                   EventMs);
    }
    // Noise bytes the simulator wrote from `fromUs` on up to `toUs`.
    int noiseBetween(qint64 fromUs, qint64 toUs) const {
        int n = 0;
        for (const LoggedByte& b : rig_.sim->log())
            n += b.note == QLatin1String("noise") && b.direction == QLatin1String("out") &&
                 b.us >= fromUs && b.us <= toUs;
        return n;
    }
    // Time of the last byte the simulator wrote.
    qint64 lastOutUs() const {
        qint64 us = 0;
        for (const LoggedByte& b : rig_.sim->log())
            if (b.direction == QLatin1String("out"))
                us = b.us;
        return us;
    }

private slots:
    void initTestCase() { QVERIFY(rig_.init()); }
    void cleanup() { rig_.cleanup(); }

    // The adapter is pulled after byte `after` of a five-byte frame: the panel shows the port
    // Closed by itself, says so once, and sends nothing more.
    void hangUpInAFrame_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("after");
        QTest::newRow("SET_PLAY after byte 2") << QStringLiteral("设置播放地址") << 2;
        QTest::newRow("SET_ERASE after byte 4") << QStringLiteral("设置擦除地址") << 4;
    }
    void hangUpInAFrame() {
        QFETCH(QString, button);
        QFETCH(int, after);
        QVERIFY(rig_.startSimulator({QStringLiteral("--hangup-after"), QString::number(after)}));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));

        p.button(button)->click();
        QTRY_VERIFY_WITH_TIMEOUT(p.isShownClosed(), EventMs);
        QTRY_VERIFY_WITH_TIMEOUT(!rig_.sim->isRunning(), EventMs);
        QCOMPARE(rig_.sim->received().size(), after);
        QVERIFY(!p.form().port().isOpen());
        QVERIFY(!p.form().transmitter().isSending());
        QCOMPARE(p.boxes.boxes.size(), 1);
        QCOMPARE(p.boxes.boxes[0].text, QStringLiteral("串口已断开"));
    }

    // Replies that come in pieces, late, or with surplus bytes, to a pointer read and a range
    // command, and the read after them. A reply is recognised by its byte count alone:
    //  - split or late, it is recognised as always;
    //  - surplus bytes that come in after the last byte of a reply, in notifications of their
    //    own, start a new count; the next frame's first byte throws them away, so the range
    //    command that follows (which does not clear the count) is recognised too;
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
            << opts("--extra-bytes 2 --split-ms 60") << 2 << true << "reply" << true;
        QTest::newRow("surplus, one write")
            << opts("--extra-bytes 2") << 2 << false << "none" << false;
    }
    void unusualReplies() {
        QFETCH(QStringList, options);
        QFETCH(int, extra);
        QFETCH(bool, readShows);
        QFETCH(QString, rangeBox);
        QFETCH(bool, nextReadShows);
        QVERIFY(rig_.startSimulator(options));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp()); // no replies to these two

        QLineEdit* play = p.edit(QStringLiteral("Play_Text"));
        QLineEdit* rec = p.edit(QStringLiteral("Rec_Text"));
        int out = 0;
        QVERIFY(p.click(QStringLiteral("读播放地址")));
        QVERIFY(repliesOut(
            out += 4 + extra, [&] { return !play->text().isEmpty(); }, 4 + extra));
        QCOMPARE(play->text(), readShows ? QStringLiteral("00 10 ") : QString());

        QVERIFY(p.click(QStringLiteral("设置播放地址")));
        QVERIFY(repliesOut(
            out += 5 + extra, [&] { return !p.boxes.boxes.isEmpty(); }, 5 + extra));
        const int boxes = rangeBox == QLatin1String("none") ? 0 : 1;
        QCOMPARE(p.boxes.boxes.size(), boxes);
        if (boxes) {
            const QString text = p.boxes.boxes[0].text;
            qInfo("range reply box: \"%s\"", qPrintable(text));
            QCOMPARE(p.boxes.boxes[0].icon, MessageIcon::Information);
            QCOMPARE(rangeReply.match(text).hasMatch(), rangeBox == QLatin1String("reply"));
            QString firstThree;
            for (const LoggedByte& b : rig_.sim->log())
                if (b.note.startsWith(QLatin1String("SET_PLAY reply ")) && firstThree.size() < 9)
                    firstThree +=
                        QStringLiteral("%1 ").arg(b.value, 2, 16, QLatin1Char('0')).toUpper();
            QVERIFY2(text.startsWith(firstThree), qPrintable(firstThree));
        }

        QVERIFY(p.click(QStringLiteral("读录音地址")));
        QVERIFY(repliesOut(
            out += 4 + extra, [&] { return !rec->text().isEmpty(); }, 4 + extra));
        QCOMPARE(rec->text(), nextReadShows ? QStringLiteral("00 10 ") : QString());
        qInfo("after the last reply: RecvCnt %d", p.form().receiver().RecvCnt());

        QList<quint8> in;
        for (const LoggedByte& b : rig_.sim->received())
            in << b.value;
        QCOMPARE(in, (QList<quint8>{0x03, 0x01, 0x06, 0x80, 0x00, 0x10, 0x00, 0x20, 0x08}));
        QVERIFY(p.isShownOpen());
        QCOMPARE(p.boxes.boxes.size(), boxes);
    }

    // A command given while a five-byte frame is going out. The bridge frames by opcode: it
    // takes whatever follows an opcode as that command's data. So the frame goes out whole
    // and the new command after it; were it cut short, the chip would take the read's opcode
    // as an address byte of the erase range. The erase's reply comes in while the frame's last
    // byte is answered, before the read's opcode goes out a pacing interval later: the read's
    // first byte throws it away, and the read shows its own pointer. (Bytes of the old reply
    // that came later than that would count for the read; no row here answers that slowly.)
    void commandDuringAFrameFollowsIt_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("reply in one write") << QStringList{};
        QTest::newRow("reply split, 5 ms apart") << QStringList{"--split-ms", "5"};
    }
    void commandDuringAFrameFollowsIt() {
        QFETCH(QStringList, options);
        QVERIFY(rig_.startSimulator(options));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());

        QLineEdit* play = p.edit(QStringLiteral("Play_Text"));
        p.button(QStringLiteral("设置擦除地址"))->click();
        QVERIFY(waitFor([&] { return rig_.sim->received().size() >= 3; }, EventMs));
        p.button(QStringLiteral("读播放地址"))->click();
        QVERIFY(waitFor([&] { return rig_.sim->received().size() >= 8; }, EventMs));
        QVERIFY(waitFor([&] { return !play->text().isEmpty(); }, EventMs));

        QList<quint8> in;
        QStringList frames;
        qint64 readInUs = 0;
        for (const LoggedByte& b : rig_.sim->received()) {
            in << b.value;
            if (b.note.contains(QLatin1String("5/5")))
                frames << b.note;
            if (b.note.startsWith(QLatin1String("RD_PLAY_PTR")))
                readInUs = b.us;
        }
        QCOMPARE(frames, QStringList{QStringLiteral("SET_ERASE 5/5: SET_ERASE 0x010..0x020")});
        QCOMPARE(in, (QList<quint8>{0x03, 0x01, 0x82, 0x00, 0x10, 0x00, 0x20, 0x06}));
        QCOMPARE(rig_.sim->commands(QStringLiteral("RD_PLAY_PTR")).size(), 1);
        int eraseReplyLate = 0;
        for (const LoggedByte& b : rig_.sim->log())
            eraseReplyLate += b.direction == QLatin1String("out") &&
                              b.note.startsWith(QLatin1String("SET_ERASE reply")) &&
                              b.us > readInUs;
        if (eraseReplyLate > 0)
            QSKIP("the simulator answered the erase only after the read had gone out");
        QCOMPARE(play->text(), QStringLiteral("00 10 "));
        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
    }

    // Unsolicited bytes every 20 ms while a pointer read is in flight: the panel counts them
    // against the read, writes nothing and keeps the port. The simulator's noise has no end,
    // so the noise is ended by replacing the bridge on the same port number; opening the port
    // again starts the receiver afresh, and reads work.
    void noiseThenARead() {
        QVERIFY(rig_.startSimulator({QStringLiteral("--noise-ms"), QStringLiteral("20")}));
        const int port = rig_.sim->port();
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(port));
        QVERIFY(p.click(QStringLiteral("读播放地址")));

        const auto noise = [&] { return noiseBetween(0, std::numeric_limits<qint64>::max()); };
        QVERIFY(waitFor([&] { return noise() >= 100; }, 60000));
        const QString shown = p.edit(QStringLiteral("Play_Text"))->text();
        qInfo("%d noise bytes, Play_Text \"%s\", RecvCnt %d", noise(), qPrintable(shown),
              p.form().receiver().RecvCnt());
        QVERIFY(p.isShownOpen());
        QCOMPARE(rig_.sim->received().size(), 1); // only the read's own byte
        QVERIFY(p.boxes.boxes.isEmpty());
        // Noise taken for pointer replies shows as pointers, never as anything else.
        QVERIFY(QRegularExpression(QStringLiteral("^(|[0-9A-F]{2} [0-9A-F]{2} )$"))
                    .match(shown)
                    .hasMatch());

        p.clickPortButton(port);
        QVERIFY(p.isShownClosed());
        rig_.sim->stop();
        QVERIFY(rig_.startSimulator({}, port));
        QVERIFY(p.openPort(port));
        QCOMPARE(p.form().receiver().RecvCnt(), 0);
        QCOMPARE(p.form().receiver().RecvIdx(), 0);
        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
        QCOMPARE(p.readInto(QStringLiteral("当前地址"), QStringLiteral("CurrentRow")),
                 QStringLiteral("00 10 "));
    }

    // A byte now and then from the board on its own, and commands given right after one has
    // come in. A command that does not clear the count (the ranges) is recognised all the
    // same: the stray byte before its frame is thrown away when the frame starts. A reply is
    // missed only when a stray byte comes in with it; every reply with none near it (by the
    // simulator's log) shows what the bridge sent.
    void repliesAmidOccasionalNoise() {
        QVERIFY(rig_.startSimulator({QStringLiteral("--noise-ms"), QStringLiteral("1000")}));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());
        const Receiver& rx = p.form().receiver();

        const auto noiseOut = [&] { return noiseBetween(0, std::numeric_limits<qint64>::max()); };
        // Waits for the next stray byte and for the panel to have counted it; returns when the
        // simulator wrote it. Everything written before it has come in too.
        const auto strayByteTakenIn = [&]() -> qint64 {
            const int before = noiseOut();
            const std::uint8_t count = rx.RecvCnt();
            if (!waitFor([&] { return noiseOut() > before; }, EventMs) ||
                !waitFor([&] { return rx.RecvCnt() != count; }, EventMs))
                return -1;
            qint64 us = 0;
            for (const LoggedByte& b : rig_.sim->log())
                if (b.note == QLatin1String("noise") && b.direction == QLatin1String("out"))
                    us = b.us;
            return us;
        };
        // The last byte of the reply `last` written after `sinceUs` (its clock is ours).
        const auto replyOut = [&](const QString& last, qint64 sinceUs) {
            qint64 us = 0;
            waitFor(
                [&] {
                    for (const LoggedByte& b : rig_.sim->log())
                        if (b.direction == QLatin1String("out") && b.note == last && b.us > sinceUs)
                            us = b.us;
                    return us > 0;
                },
                EventMs);
            return us;
        };
        // Whether a stray byte came after `strayUs` and up to a while after `lastUs`: a
        // stray byte right after the reply may come in with it (the panel takes in what has
        // arrived when it looks).
        const auto spoilt = [&](qint64 strayUs, qint64 lastUs) {
            constexpr qint64 WhileUs = 200000;
            waitFor([&] { return monotonicUs() > lastUs + WhileUs; }, EventMs);
            return noiseBetween(strayUs + 1, lastUs + WhileUs) > 0;
        };

        QLineEdit* play = p.edit(QStringLiteral("Play_Text"));
        int clean = 0;
        int spoiltReplies = 0;
        for (int round = 0; round < 4; ++round) {
            // The range command: its box shows SR0 low, high, low, high, low.
            qint64 strayUs = strayByteTakenIn();
            QVERIFY(strayUs > 0);
            const qsizetype boxesBefore = p.boxes.boxes.size();
            const qint64 rangeUs = monotonicUs();
            QVERIFY(p.click(QStringLiteral("设置播放地址")));
            qint64 lastUs = replyOut(QStringLiteral("SET_PLAY reply 5/5"), rangeUs);
            QVERIFY(lastUs > 0);
            if (spoilt(strayUs, lastUs)) {
                ++spoiltReplies;
            } else {
                ++clean;
                QTRY_VERIFY_WITH_TIMEOUT(p.boxes.boxes.size() > boxesBefore, EventMs);
                QVERIFY2(rangeReply.match(p.boxes.boxes.last().text).hasMatch(),
                         qPrintable(p.boxes.boxes.last().text));
            }
            // The pointer read.
            strayUs = strayByteTakenIn();
            QVERIFY(strayUs > 0);
            play->clear();
            const qint64 readUs = monotonicUs();
            QVERIFY(p.click(QStringLiteral("读播放地址")));
            lastUs = replyOut(QStringLiteral("RD_PLAY_PTR reply 4/4"), readUs);
            QVERIFY(lastUs > 0);
            if (spoilt(strayUs, lastUs)) {
                ++spoiltReplies;
            } else {
                ++clean;
                QTRY_VERIFY_WITH_TIMEOUT(!play->text().isEmpty(), EventMs);
                QCOMPARE(play->text(), QStringLiteral("00 10 "));
            }
        }
        qInfo("%d replies with no stray byte near them, all recognised; %d with one", clean,
              spoiltReplies);
        QVERIFY(p.isShownOpen());
    }

    // Bytes that come in while a reply's box is open (the bridge sends one surplus byte after
    // each reply, a little later): they are read while the box is open, and the rewind after
    // the box leaves nothing behind, so every following reply is recognised.
    void surplusByteWhileABoxIsOpen() {
        QVERIFY(rig_.startSimulator(QStringLiteral("--split-ms 20 --extra-bytes 1").split(u' ')));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());

        QList<int> countsInBox;
        p.boxes.onShow = [&](const FakeMessageBoxes::Box&) {
            // Open until the surplus byte has been counted (or given up on).
            waitFor(
                [&] {
                    return p.form().receiver().RecvCnt() > 3 && p.form().receiver().RecvCnt() != 5;
                },
                EventMs);
            if (p.boxes.boxes.last().title.isEmpty()) // the range box: five bytes, then one
                waitFor([&] { return p.form().receiver().RecvCnt() == 6; }, EventMs);
            countsInBox << p.form().receiver().RecvCnt();
        };
        QVERIFY(p.click(QStringLiteral("3器件ID")));
        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), 1, EventMs);
        QCOMPARE(p.boxes.boxes[0].text, QStringLiteral("ISD1760"));
        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
        QVERIFY(p.click(QStringLiteral("设置播放地址")));
        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), 2, EventMs);
        QVERIFY2(rangeReply.match(p.boxes.boxes[1].text).hasMatch(),
                 qPrintable(p.boxes.boxes[1].text));
        QCOMPARE(p.readInto(QStringLiteral("读录音地址"), QStringLiteral("Rec_Text")),
                 QStringLiteral("00 10 "));
        // The range plays at once: the current row is somewhere in it.
        const std::optional<int> row =
            hexTextValue(p.readInto(QStringLiteral("当前地址"), QStringLiteral("CurrentRow")));
        QVERIFY(row && *row >= 0x010 && *row <= 0x020);
        QCOMPARE(countsInBox, (QList<int>{4, 6}));
    }

    // A recording runs; the operator's range command is answered with a box, and while it is
    // open the automatic stop sends STOP near the end of the audio file. Its reply is
    // recognised while the box is still open and pauses the player.
    void automaticStopWhileAnotherBoxIsOpen_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("clean replies") << QStringList{};
        QTest::newRow("split, with a surplus byte")
            << QStringLiteral("--split-ms 20 --extra-bytes 1").split(u' ');
    }
    void automaticStopWhileAnotherBoxIsOpen() {
        QFETCH(QStringList, options);
        const int extra = options.contains(QStringLiteral("--extra-bytes")) ? 1 : 0;
        QVERIFY(rig_.startSimulator(options));
        Panel& p = rig_.newPanel();
        AudioSource& audio = p.form().audio();
        p.fakePlayer.fileLength = 900;
        p.dialog.answers.push_back(QStringLiteral("/tmp/nine-tenths.wav"));
        p.button(QStringLiteral("打开文件"))->click();
        QVERIFY(p.boxes.boxes.isEmpty());
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());

        QVERIFY(p.click(QStringLiteral("录    音")));
        QTRY_VERIFY_WITH_TIMEOUT(p.lit(QStringLiteral("Lift(2)")), EventMs); // the REC reply
        QVERIFY(audio.RecOn());
        // The surplus byte after the REC reply is in before the next command.
        QVERIFY(waitFor([&] { return bytesOut() >= 1 + extra; }, EventMs));

        bool pausedInBox = false;
        p.boxes.onShow = [&](const FakeMessageBoxes::Box&) {
            p.boxes.onShow = nullptr;
            // The player's status ticks go on while the box is open, up to the automatic stop.
            for (int tick = 0; tick < 100 && audio.RecOn(); ++tick)
                p.fakePlayer.tick();
            QVERIFY(!audio.RecOn());
            pausedInBox = waitFor(
                [&] { return p.fakePlayer.lastCommand() == PlayerCommand::Pause; }, EventMs);
        };
        QVERIFY(p.click(QStringLiteral("设置播放地址")));
        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), 1, EventMs);
        QVERIFY(pausedInBox);
        QCOMPARE(rig_.sim->commands(QStringLiteral("STOP")).size(), 1);
        QVERIFY(!audio.MusicOn());
        QVERIFY(!audio.RecOn());
        QVERIFY(p.lit(QStringLiteral("Lift(1)")));
        QCOMPARE(p.fakePlayer.updateInterval(), 0);
        // And the link goes on as before.
        QCOMPARE(p.readInto(QStringLiteral("读录音地址"), QStringLiteral("Rec_Text")).size(), 6);
    }

    // Another program holds the port: the panel stays Closed and says the port is busy;
    // once the other program lets go, the panel opens it and works.
    void portHeldByAnotherProcess() {
        QVERIFY(rig_.startSimulator());
        QProcess holder;
        holder.start(QStringLiteral(TAMBERLO_PORT_HOLDER), {QString::number(rig_.sim->port())});
        QVERIFY(holder.waitForStarted(5000));
        QVERIFY(waitFor([&] { return holder.canReadLine() || holder.state() != QProcess::Running; },
                        5000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("open"));

        Panel& p = rig_.newPanel();
        p.clickPortButton(rig_.sim->port());
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
        QVERIFY(p.openPort(rig_.sim->port()));
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
        QVERIFY(QDir().mkpath(rig_.runtime->path() + QStringLiteral("/tamberlo")));
        QString resolved = target;
        if (!target.startsWith(QLatin1Char('/'))) {
            resolved = rig_.runtime->path() + QLatin1Char('/') + target;
            if (target != QLatin1String(".")) {
                QFile file(resolved);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("not a serial device\n");
            }
        }
        QFile::remove(rig_.runtime->linkPath(port));
        QVERIFY(QFile::link(resolved, rig_.runtime->linkPath(port)));

        Panel& p = rig_.newPanel();
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
        QFile::remove(rig_.runtime->linkPath(port));
    }
};

QTEST_MAIN(TestFaultsE2e)
#include "tst_faults_e2e.moc"
