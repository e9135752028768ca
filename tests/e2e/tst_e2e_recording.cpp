// Recording and playing through the panel against the simulated chip, end to end: a
// recording started and stopped by hand and played back over a range and as a message,
// and a recording whose sound source is a real WAV file on the Qt Multimedia player,
// stopped by the panel itself shortly before the file ends. How long before the end the
// STOP reaches the chip is a figure of bench/autostop, not a test: it depends on how busy
// the machine is.

#include "audio/QtAudioPlayer.h"
#include "e2e/SimulatorRig.h"
#include "panel/AudioSource.h"
#include "support/PulseServer.h"
#include "support/Wav.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>

using namespace tamberlo;
using namespace tamberlo::e2e;

namespace {

constexpr int FirstRow = 0x010;

// Passes everything on to the real player and notes, with the time, every command the
// panel gives it and every status event that finds the file at its end.
class TracingPlayer : public AudioPlayer {
public:
    struct Entry {
        qint64 us;
        QString what;
    };

    explicit TracingPlayer(AudioPlayer& real) : real_(real) {
        connect(&real_, &AudioPlayer::statusUpdate, this, [this] {
            if (real_.mode() == Ready)
                trace.push_back({monotonicUs(), QStringLiteral("status event at the end")});
            emit statusUpdate();
        });
    }
    void command(PlayerCommand command) override {
        trace.push_back({monotonicUs(), commandWord(command)});
        real_.command(command);
    }
    PlayerCommand lastCommand() const override { return real_.lastCommand(); }
    void setWait(bool wait) override { real_.setWait(wait); }
    void setFileName(const QString& fileName) override { real_.setFileName(fileName); }
    QString fileName() const override { return real_.fileName(); }
    std::int32_t length() const override { return real_.length(); }
    std::int32_t mode() const override { return real_.mode(); }
    QString errorText() const override { return real_.errorText(); }
    void setUpdateInterval(int ms) override { real_.setUpdateInterval(ms); }
    int updateInterval() const override { return real_.updateInterval(); }
    void setStartPoint(std::int32_t ms) override { real_.setStartPoint(ms); }
    void setOutputDevice(const QByteArray& id) override { real_.setOutputDevice(id); }
    bool outputReady(QString* why) const override { return real_.outputReady(why); }
    std::int64_t playedMs() const override { return real_.playedMs(); }

    // When the entry `what` was last noted; -1 when never.
    qint64 lastUs(const QString& what) const {
        for (auto it = trace.rbegin(); it != trace.rend(); ++it)
            if (it->what == what)
                return it->us;
        return -1;
    }
    bool has(const QString& what) const { return lastUs(what) >= 0; }
    // The trace in milliseconds from `originUs`, one entry a line.
    QString show(qint64 originUs) const {
        QStringList lines;
        for (const Entry& e : trace)
            lines << QStringLiteral("%1 ms: %2").arg(double(e.us - originUs) / 1000.0).arg(e.what);
        return lines.join(QLatin1Char('\n'));
    }

    std::vector<Entry> trace;

private:
    AudioPlayer& real_;
};

} // namespace

class TestE2eRecording : public QObject {
    Q_OBJECT

    Rig rig_{41};
    std::unique_ptr<test::PulseServer> sound_;

    // Polls "当前地址" until the row is `last` (or time is up); returns the rows read.
    static QList<int> watchCurrentRow(Panel& p, int last, int ms) {
        QList<int> rows;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            const std::optional<int> row =
                hexTextValue(p.readInto(QStringLiteral("当前地址"), QStringLiteral("CurrentRow")));
            if (!row)
                break;
            rows.push_back(*row);
            if (*row == last)
                break;
        }
        return rows;
    }

    static QString show(const QList<int>& rows) {
        QStringList text;
        for (int r : rows)
            text << QString::number(r, 16);
        return text.join(QLatin1Char(' '));
    }

    // A recording through the record button with a 1.5 s WAV on the real player, run until
    // the automatic STOP has been answered.
    struct FileRecording {
        QTemporaryDir files;
        std::unique_ptr<QtAudioPlayer> realPlayer = std::make_unique<QtAudioPlayer>();
        std::unique_ptr<TracingPlayer> player = std::make_unique<TracingPlayer>(*realPlayer);
        std::unique_ptr<Panel> panel;
        qint64 playUs = -1; // when the record button gave the player "Play"
        ~FileRecording() { panel.reset(); }
    };
    void recordFile(FileRecording& r) {
        QVERIFY(r.files.isValid());
        const QString wav = r.files.filePath(QStringLiteral("source.wav"));
        QVERIFY(test::writeWav(wav, 8000, 1, 1500));

        QVERIFY(rig_.startSimulator());
        r.panel = std::make_unique<Panel>(r.player.get());
        Panel& p = *r.panel;
        AudioSource& audio = p.form().audio();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());

        p.dialog.answers.push_back(wav);
        p.button(QStringLiteral("打开文件"))->click();
        QVERIFY2(p.boxes.boxes.isEmpty(),
                 qPrintable(p.boxes.boxes.isEmpty() ? QString() : p.boxes.boxes[0].text));
        QVERIFY2(audio.MusicLenMs() >= 1400 && audio.MusicLenMs() <= 1600,
                 qPrintable(QString::number(audio.MusicLenMs())));
        QCOMPARE(p.edit(QStringLiteral("DisFileNanmeText"))->text(), wav);
        QCOMPARE(r.player->lastCommand(), PlayerCommand::Pause);

        p.button(QStringLiteral("录    音"))->click();
        // The sound starts once REC is out, a pacing interval after the click.
        QCOMPARE(r.player->lastCommand(), PlayerCommand::Pause);
        QTRY_COMPARE_WITH_TIMEOUT(r.player->lastCommand(), PlayerCommand::Play, ReplyMs);
        r.playUs = r.player->lastUs(QStringLiteral("Play"));
        QVERIFY(audio.MusicOn());
        QTRY_VERIFY_WITH_TIMEOUT(p.lit(QStringLiteral("Lift(2)")), ReplyMs); // the REC reply
        // The automatic stop goes out; its reply clears MusicOn.
        QTRY_VERIFY_WITH_TIMEOUT(!audio.MusicOn(), 10000);
    }

private slots:
    void initTestCase() {
        QVERIFY(rig_.init());
        // Before the first player: the recordings of a file need an output to play on, a
        // sound server of this test's own whose default output is a null sink.
        sound_ = std::make_unique<test::PulseServer>();
        QVERIFY2(sound_->ok(), qPrintable(sound_->error()));
    }

    void cleanupTestCase() { sound_.reset(); }

    void cleanup() { rig_.cleanup(); }

    // Record about a second by hand, then play a range and the new message while the
    // current row is polled.
    void recordByHandThenPlay() {
        // The chip keeps its rows in a memory file, which tells how far the recording is.
        const QString memory = rig_.runtime->path() + QStringLiteral("/by-hand.memory");
        QVERIFY(rig_.startSimulator({QStringLiteral("--memory"), memory}));
        Panel p;
        AudioSource& audio = p.form().audio();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());

        QVERIFY(p.click(QStringLiteral("录    音")));
        QTRY_VERIFY_WITH_TIMEOUT(p.lit(QStringLiteral("Lift(2)")), ReplyMs); // the REC reply
        QVERIFY(audio.RecOn());
        QVERIFY(audio.MusicOn());
        QCOMPARE(p.fakePlayer.lastCommand(), PlayerCommand::Play);

        // The length of the recording: eight rows of 125 ms.
        QVERIFY(waitFor([&] {
            const auto runs = memoryRuns(memory);
            return !runs.isEmpty() && runs[0].second - runs[0].first + 1 >= 8;
        }));
        QVERIFY(p.click(QStringLiteral("停    止")));
        QTRY_VERIFY_WITH_TIMEOUT(p.lit(QStringLiteral("Lift(1)")), ReplyMs); // the STOP reply
        QVERIFY(!p.lit(QStringLiteral("Lift(2)")));
        QVERIFY(!audio.RecOn());
        QVERIFY(!audio.MusicOn());
        QCOMPARE(p.fakePlayer.lastCommand(), PlayerCommand::Pause);
        QCOMPARE(p.fakePlayer.updateInterval(), 0);
        const QList<LoggedByte> rec = rig_.sim->commands(QStringLiteral("REC"));
        const QList<LoggedByte> stop = rig_.sim->commands(QStringLiteral("STOP"));
        QCOMPARE(rec.size(), 1);
        QCOMPARE(stop.size(), 1);
        QVERIFY2(!rec[0].refused() && !stop[0].refused(), qPrintable(rec[0].note + stop[0].note));

        // Rows of 125 ms from REC to STOP as the chip took them (about eight; how many exactly
        // depends on how busy the machine was): the record pointer is past them, the play
        // pointer at the new message's start.
        const std::optional<int> recordPointer =
            hexTextValue(p.readInto(QStringLiteral("读录音地址"), QStringLiteral("Rec_Text")));
        QVERIFY(recordPointer);
        const int rows = int((stop[0].us - rec[0].us) / 125000);
        qInfo("recorded %.3f s: %d whole rows; record pointer %x",
              double(stop[0].us - rec[0].us) / 1e6, rows, *recordPointer);
        QVERIFY2(*recordPointer >= FirstRow + rows - 1 && *recordPointer <= FirstRow + rows + 2,
                 qPrintable(QString::number(*recordPointer, 16)));
        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
        const int messageEnd = *recordPointer - 1;

        // SET_PLAY over 0x010..0x020: the chip plays the range at once and the bridge
        // answers SR0 low, high, low, high, low, as the range went in.
        p.edit(QStringLiteral("St_Play_Text"))->setText(QStringLiteral("00 10"));
        p.edit(QStringLiteral("St_Play_Text1"))->setText(QStringLiteral("00 20"));
        QVERIFY(p.click(QStringLiteral("设置播放地址")));
        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), 1, ReplyMs);
        QVERIFY(p.lit(QStringLiteral("Right(2)")));
        const QByteArray reply = hexTextBytes(p.boxes.boxes[0].text);
        QVERIFY2(reply.size() == 5, qPrintable(p.boxes.boxes[0].text));
        QCOMPARE(reply[2], reply[0]);
        QCOMPARE(reply[4], reply[0]);
        QCOMPARE(reply[3], reply[1]);
        QVERIFY(reply[0] & 0x04);    // PU
        QVERIFY(!(reply[0] & 0x01)); // the stop before was taken
        QStringList rangeFrames;
        for (const LoggedByte& b : rig_.sim->received())
            if (b.note.startsWith(QStringLiteral("SET_PLAY 5/5")))
                rangeFrames << b.note;
        QCOMPARE(rangeFrames, QStringList{QStringLiteral("SET_PLAY 5/5: SET_PLAY 0x010..0x020")});

        // How many reads fit into the range's two seconds depends on the machine; the rows
        // seen only have to move forward to the range's end.
        const QList<int> rangeRows = watchCurrentRow(p, 0x020, 30000);
        qInfo("current rows while the range plays: %s", qPrintable(show(rangeRows)));
        QVERIFY2(rangeRows.size() >= 2 && rangeRows.last() == 0x020, qPrintable(show(rangeRows)));
        QVERIFY2(std::is_sorted(rangeRows.begin(), rangeRows.end()) &&
                     rangeRows.first() >= FirstRow,
                 qPrintable(show(rangeRows)));
        QVERIFY2(QSet<int>(rangeRows.begin(), rangeRows.end()).size() >= 2,
                 qPrintable(show(rangeRows)));

        // PLAY is refused while the range's last row still plays (CMD_ERR); the operator
        // clicks again until the chip takes it.
        bool playing = false;
        int attempt = 0;
        for (; attempt < 10 && !playing; ++attempt) {
            const qsizetype before = rig_.sim->commands(QStringLiteral("PLAY")).size();
            QVERIFY(p.click(QStringLiteral("播    放")));
            QVERIFY(waitFor(
                [&] { return rig_.sim->commands(QStringLiteral("PLAY")).size() > before; }));
            playing = !rig_.sim->commands(QStringLiteral("PLAY")).last().refused();
        }
        QVERIFY2(playing, "the chip never took PLAY after the range had played");
        qInfo("PLAY taken at click %d", attempt);
        QVERIFY(p.lit(QStringLiteral("Lift(0)")));

        const QList<int> messageRows = watchCurrentRow(p, messageEnd, 30000);
        qInfo("current rows while the message plays: %s", qPrintable(show(messageRows)));
        QVERIFY2(!messageRows.isEmpty() && messageRows.last() == messageEnd,
                 qPrintable(show(messageRows) + " end " + QString::number(messageEnd, 16)));
        QVERIFY2(std::is_sorted(messageRows.begin(), messageRows.end()) &&
                     messageRows.first() >= FirstRow && messageRows.first() < messageEnd,
                 qPrintable(show(messageRows)));
        // The play pointer stays at the message start.
        QCOMPARE(p.readInto(QStringLiteral("读播放地址"), QStringLiteral("Play_Text")),
                 QStringLiteral("00 10 "));
        QCOMPARE(p.boxes.boxes.size(), 1);
    }

    // The record button with a 1.5 s WAV on the real player: REC, the file plays, the
    // panel sends STOP by itself near the file's end, exactly once, and the chip stops.
    void recordAFileStopsByItself() {
        FileRecording r;
        recordFile(r);
        if (QTest::currentTestFailed())
            return;
        Panel& p = *r.panel;
        AudioSource& audio = p.form().audio();
        QVERIFY(!audio.MusicOn());
        QVERIFY(!audio.RecOn());
        // STOP is handed over by the tick, or by the timer a tick armed for the moment, when
        // the sound out reaches the file's end less the lead: at most a tick after the count.
        QVERIFY2(audio.RecElapsedMs() >=
                     audio.MusicLenMs() - AudioSource::StopLeadMs - AudioSource::TickMs,
                 qPrintable(QStringLiteral("counted %1 ms of %2 ms")
                                .arg(audio.RecElapsedMs())
                                .arg(audio.MusicLenMs())));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+:\\d+:\\d+$"))
                     .match(p.edit(QStringLiteral("RecTimeText"))->text())
                     .hasMatch(),
                 qPrintable(p.edit(QStringLiteral("RecTimeText"))->text()));

        // The STOP is handed over early enough for its reply to find the file still playing
        // (how early is a figure of bench_autostop). Then the reply holds the player ("Pause",
        // no more status events) and lights the stop lamp. On a machine so busy that the file
        // ended first, the player has been rewound, and the reply only clears the flags.
        const QString trace = r.player->show(r.playUs);
        if (!r.player->has(QStringLiteral("status event at the end"))) {
            QCOMPARE(r.player->lastCommand(), PlayerCommand::Pause);
            QVERIFY2(p.lit(QStringLiteral("Lift(1)")), qPrintable(trace));
            QCOMPARE(r.player->updateInterval(), 0);
        } else {
            qInfo("the file ended before the STOP reply came:\n%s", qPrintable(trace));
            QVERIFY2(r.player->lastCommand() != PlayerCommand::Pause, qPrintable(trace));
            QVERIFY2(!p.lit(QStringLiteral("Lift(1)")), qPrintable(trace));
        }

        const std::optional<int> recordPointer =
            hexTextValue(p.readInto(QStringLiteral("读录音地址"), QStringLiteral("Rec_Text")));
        QVERIFY(recordPointer);

        // Exactly one STOP after the REC (the pointer read above gave a second STOP time
        // to turn up), taken by the chip, about the file's length later.
        const QList<LoggedByte> recs = rig_.sim->commands(QStringLiteral("REC"));
        QCOMPARE(recs.size(), 1);
        const LoggedByte rec = recs[0];
        QVERIFY(!rec.refused());
        // "Play" followed REC's write, which the simulator reads a moment later: never a pacing
        // interval ahead of it, when an output with little delay would play the file's start
        // before the chip listens.
        QVERIFY2(r.playUs > rec.us - 5000,
                 qPrintable(QStringLiteral("Play %1 ms before REC reached the chip")
                                .arg((rec.us - r.playUs) / 1000.0)));
        QList<LoggedByte> stops;
        for (const LoggedByte& b : rig_.sim->commands(QStringLiteral("STOP")))
            if (b.us > rec.us)
                stops.push_back(b);
        QCOMPARE(stops.size(), 1);
        QVERIFY(!stops[0].refused());
        const qint64 recordedMs = (stops[0].us - rec.us) / 1000;
        qInfo("REC to STOP at the simulator: %lld ms (file %d ms)", recordedMs, audio.MusicLenMs());
        // Not before the file's length less the lead; later only as much as the machine lags.
        QVERIFY2(recordedMs >= 1100, qPrintable(QString::number(recordedMs)));
        // The chip recorded a row every 125 ms of it.
        const int rows = int(recordedMs / 125);
        QVERIFY2(
            *recordPointer >= FirstRow + rows - 1 && *recordPointer <= FirstRow + rows + 2,
            qPrintable(QStringLiteral("%1 after %2 rows").arg(*recordPointer, 0, 16).arg(rows)));
        QCOMPARE(p.boxes.boxes.size(), 0);
    }
};

QTEST_MAIN(TestE2eRecording)
#include "tst_e2e_recording.moc"
