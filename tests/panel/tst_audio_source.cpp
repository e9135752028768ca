// The audio source with the fake player: file open, the status tick's arithmetic, the
// automatic stop and the position slider.
#include "panel/AudioSource.h"
#include "support/Fakes.h"

#include <QLineEdit>
#include <QSlider>
#include <QtTest>
#include <memory>

using namespace tamberlo;
using tamberlo::test::FakeAudioPlayer;
using tamberlo::test::FakeFileDialog;
using tamberlo::test::FakeMessageBoxes;
using tamberlo::test::FakeSerialPort;

namespace {

// The audio source over fakes and the four widgets with their design values.
struct Rig {
    FakeAudioPlayer player;
    FakeFileDialog dialog;
    FakeMessageBoxes boxes;
    QLineEdit fileName{QStringLiteral(".mp3")};
    QLineEdit fileLength;
    QLineEdit recTime{QStringLiteral("REC Time")};
    QSlider slider{Qt::Horizontal};
    std::unique_ptr<AudioSource> source;
    int stops = 0;
    int ticks = 0;
    int stopTick = -1;
    // The clock the automatic stop reads, and the output: the sound of "Play" comes out
    // `delay` ms later (never, when negative); `stale` makes every third report that much old
    // (ahead of the sound when negative).
    std::int64_t clock = 1000000;
    std::int64_t playAt = -1;
    int delay = -1;
    int stale = 0;
    std::int64_t handedAt = -1;
    std::int64_t timerDue = -1;

    Rig() {
        slider.setRange(0, 30000);
        source = std::make_unique<AudioSource>(
            player, dialog, boxes, AudioSource::Widgets{&fileName, &fileLength, &recTime, &slider});
        source->setStopCommand([this] {
            ++stops;
            stopTick = ticks;
            handedAt = clock;
        });
        source->setClock([this] { return clock; });
    }

    void setPlayed() {
        const std::int64_t out = clock - playAt - delay - (ticks % 3 == 0 ? stale : 0);
        player.played = playAt < 0 || delay < 0 || out < 0 ? -1 : out;
    }
    void noteTimer() {
        if (source->autoStopTimer().isActive())
            timerDue = clock + source->autoStopTimer().interval();
    }
    // Moves the clock to `t`, running the automatic stop's timer on the way when it is due.
    void advanceTo(std::int64_t t) {
        while (source->autoStopTimer().isActive() && timerDue <= t) {
            clock = timerDue;
            setPlayed();
            source->autoStopDue();
            noteTimer();
        }
        clock = t;
        setPlayed();
    }
    // `count` status ticks 30 ms apart, the first `phase` + 30 ms after "Play".
    void play(int count, int phase = 0) {
        for (int i = 0; i < count; ++i) {
            advanceTo(playAt + phase + std::int64_t(AudioSource::TickMs) * ++sincePlay);
            tick();
            noteTimer();
        }
    }
    int sincePlay = 0; // ticks since "Play"

    void open(const QString& name, std::int32_t lengthMs, const QString& error = {}) {
        player.fileLength = lengthMs;
        player.openError = error;
        dialog.answers.push_back(name);
        source->openFile();
    }

    // The record button's part in the audio: RecElapsedMs 0, RecOn, then the source starts.
    void record() {
        playAt = clock;
        sincePlay = 0;
        source->setRecElapsedMs(0);
        source->setRecOn(true);
        source->startRecordingSource();
    }

    // The record-range button's part: the source starts, RecOn stays as it is.
    void recordRange() {
        playAt = clock;
        sincePlay = 0;
        source->startRecordingSource();
    }

    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            ++ticks;
            player.tick();
        }
    }
};

} // namespace

class TestAudioSource : public QObject {
    Q_OBJECT
private slots:
    void openSequence();
    void cancelBeforeAnyChoice();
    void cancelAfterEarlierChoiceReloadsFromStart();
    void unopenableFile_data();
    void unopenableFile();
    void fileOfUnknownLength();

    void automaticStopFollowsTheOutput_data();
    void automaticStopFollowsTheOutput();
    void automaticStopTakenBack_data();
    void automaticStopTakenBack();
    void playHeldUntilTheFrameIsOut_data();
    void playHeldUntilTheFrameIsOut();
    void noOutputForAFile_data();
    void noOutputForAFile();
    void recordBeforeAnyFileStopsOnFirstTick();
    void recordRangeHasNoAutomaticStop();
    void operatorMoveDoesNotMoveAutomaticStop();
    void ticksWithoutMusicChangeNothing();
    void endOfFileRewinds();
    void endOfFileRewindsEvenWithSliderAtZero();

    void scale_data();
    void scale();
    void sliderFollowsPosition_data();
    void sliderFollowsPosition();
    void operatorSliderMove_data();
    void operatorSliderMove();
    void programMovesSetNoStartPoint();
};

void TestAudioSource::openSequence() {
    Rig rig;
    rig.player.setUpdateInterval(30);
    rig.source->setMusicPosMs(5000);
    rig.source->setMusicOn(true);
    rig.source->setRecOn(true);
    rig.source->setRecElapsedMs(1234);

    rig.open(QStringLiteral("/music/take one.mp3"), 180000);

    QCOMPARE(rig.dialog.shown, 1);
    QCOMPARE(rig.dialog.lastTitle, QStringLiteral("请选择音频文件"));
    QCOMPARE(rig.dialog.lastFilters,
             QStringList({QStringLiteral("音频文件 (*.mp3)"), QStringLiteral("动画文件 (*.wav)"),
                          QStringLiteral("所有文件 (*.*)")}));
    const std::vector<PlayerCommand> expected{PlayerCommand::close, PlayerCommand::Stop,
                                              PlayerCommand::Open, PlayerCommand::Play,
                                              PlayerCommand::Pause};
    QCOMPARE(rig.player.commands, expected);
    QCOMPARE(rig.player.updateInterval(), 0);
    QVERIFY(rig.player.waitSet);
    QCOMPARE(rig.player.fileName(), QStringLiteral("/music/take one.mp3"));
    QCOMPARE(rig.source->MusicFileName(), QStringLiteral("/music/take one.mp3"));
    QCOMPARE(rig.fileName.text(), QStringLiteral("/music/take one.mp3"));
    QCOMPARE(rig.source->MusicLenMs(), 180000);
    QCOMPARE(rig.fileLength.text(), QStringLiteral("3:0:0"));
    QCOMPARE(rig.source->MusicPosMs(), 0);
    // Not moved by the open; the next tick moves it.
    QCOMPARE(rig.slider.value(), 0);
    QVERIFY(rig.boxes.boxes.isEmpty());
    // Opening leaves the recording flags and time alone.
    QVERIFY(rig.source->MusicOn());
    QVERIFY(rig.source->RecOn());
    QCOMPARE(rig.source->RecElapsedMs(), 1234);
}

void TestAudioSource::cancelBeforeAnyChoice() {
    Rig rig;
    rig.dialog.answers.push_back(QString()); // cancelled
    rig.source->openFile();

    QCOMPARE(rig.boxes.boxes.size(), 1);
    QCOMPARE(rig.boxes.boxes[0].text, QStringLiteral("请先选择音频文件"));
    QCOMPARE(rig.boxes.boxes[0].title, QString());
    QCOMPARE(rig.boxes.boxes[0].icon, MessageIcon::None);
    QVERIFY(rig.player.commands.empty());
    QCOMPARE(rig.fileName.text(), QStringLiteral(".mp3"));
    QCOMPARE(rig.fileLength.text(), QString());
    QCOMPARE(rig.source->MusicFileName(), QString());
    QCOMPARE(rig.source->MusicLenMs(), 0);
}

void TestAudioSource::cancelAfterEarlierChoiceReloadsFromStart() {
    Rig rig;
    rig.open(QStringLiteral("/music/a.wav"), 10000);
    rig.recordRange();
    rig.tick(40);
    QCOMPARE(rig.source->MusicPosMs(), 1200);
    rig.player.commands.clear();

    rig.dialog.answers.push_back(QString()); // cancelled this time
    rig.source->openFile();

    QVERIFY(rig.boxes.boxes.isEmpty());
    const std::vector<PlayerCommand> expected{PlayerCommand::close, PlayerCommand::Stop,
                                              PlayerCommand::Open, PlayerCommand::Play,
                                              PlayerCommand::Pause};
    QCOMPARE(rig.player.commands, expected);
    QCOMPARE(rig.player.fileName(), QStringLiteral("/music/a.wav"));
    QCOMPARE(rig.source->MusicPosMs(), 0);
    QCOMPARE(rig.player.updateInterval(), 0);
}

void TestAudioSource::unopenableFile_data() {
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("inBox");
    QTest::newRow("not audio") << QStringLiteral("Could not determine type of stream.")
                               << QStringLiteral("Could not determine type of stream.");
    QTest::newRow("missing") << QStringLiteral("文件不存在") << QStringLiteral("文件不存在");
}

void TestAudioSource::unopenableFile() {
    QFETCH(QString, error);
    QFETCH(QString, inBox);
    Rig rig;
    rig.open(QStringLiteral("/music/good.mp3"), 180000);
    QCOMPARE(rig.source->MusicScale(), 6);

    rig.open(QStringLiteral("/music/bad.mp3"), 180000, error);

    QCOMPARE(rig.boxes.boxes.size(), 1);
    const auto& box = rig.boxes.boxes[0];
    QVERIFY2(box.text.contains(QStringLiteral("/music/bad.mp3")), qPrintable(box.text));
    QVERIFY2(box.text.contains(inBox), qPrintable(box.text));
    QCOMPARE(box.icon, MessageIcon::Critical);
    // Nothing of the earlier file is left standing.
    QCOMPARE(rig.source->MusicLenMs(), 0);
    QCOMPARE(rig.fileLength.text(), QStringLiteral("0:0:0"));
    QCOMPARE(rig.source->MusicScale(), 0);
    QCOMPARE(rig.source->MusicScaleMode(), 0);
    QCOMPARE(rig.source->MusicPosMs(), 0);
    QCOMPARE(rig.player.length(), 0);

    // Ticks over it divide by nothing: the slider stays at 0.
    rig.recordRange();
    rig.tick(5);
    QCOMPARE(rig.source->MusicPosMs(), 150);
    QCOMPARE(rig.slider.value(), 0);
}

void TestAudioSource::fileOfUnknownLength() {
    Rig rig;
    rig.open(QStringLiteral("/music/odd.mp3"), 0);
    QCOMPARE(rig.boxes.boxes.size(), 1);
    QVERIFY(rig.boxes.boxes[0].text.contains(QStringLiteral("/music/odd.mp3")));
    QCOMPARE(rig.source->MusicLenMs(), 0);
    QCOMPARE(rig.source->MusicScale(), 0);
}

void TestAudioSource::automaticStopFollowsTheOutput_data() {
    QTest::addColumn<std::int32_t>("length");
    QTest::addColumn<int>("delay");             // the output's delay; -1: it never reports
    QTest::addColumn<int>("phase");             // the first tick comes 30 ms + phase after "Play"
    QTest::addColumn<int>("stale");             // every third report is this much old
    QTest::addColumn<int>("gap");               // the output falls this much behind at 5 s
    QTest::addColumn<std::int64_t>("handedAt"); // from "Play"
    QTest::addColumn<int>("ticksBefore");       // status ticks before the hand-over
    QTest::addColumn<QString>("recTime");       // RecTimeText then

    // STOP is handed over when the sound out is at length - 50 ms less the 50 ms the
    // transmitter takes to write it: the byte reaches the chip as the sound out reaches
    // length - 50 ms, whatever the output's delay. Ticks count on as they always did.
    QTest::newRow("10 s, no delay")
        << 10000 << 0 << 5 << 0 << 0 << std::int64_t(9900) << 329 << "0:9:87";
    QTest::newRow("10 s, 140 ms") << 10000 << 140 << 0 << 0 << 0 << std::int64_t(10040) << 334
                                  << "0:10:2";
    QTest::newRow("10 s, 140 ms, late ticks")
        << 10000 << 140 << 17 << 0 << 0 << std::int64_t(10040) << 334 << "0:10:2";
    QTest::newRow("10 s, 140 ms, stale reports")
        << 10000 << 140 << 11 << 12 << 0 << std::int64_t(10040) << 334 << "0:10:2";
    QTest::newRow("10 s, 140 ms, reports ahead of the sound")
        << 10000 << 140 << 11 << -25 << 0 << std::int64_t(10040) << 334 << "0:10:2";
    QTest::newRow("10 s, 600 ms") << 10000 << 600 << 5 << 0 << 0 << std::int64_t(10500) << 349
                                  << "0:10:47";
    QTest::newRow("10 s, 600 ms, late ticks")
        << 10000 << 600 << 29 << 0 << 0 << std::int64_t(10500) << 349 << "0:10:47";
    QTest::newRow("1.5 s, 1,100 ms")
        << 1500 << 1100 << 3 << 0 << 0 << std::int64_t(2500) << 83 << "0:2:49";
    QTest::newRow("180 s, 140 ms")
        << 180000 << 140 << 7 << 0 << 0 << std::int64_t(180040) << 6001 << "3:0:3";
    // A gap in the sound (the output starved): the stop moves with what comes out.
    QTest::newRow("10 s, 140 ms, 200 ms gap")
        << 10000 << 140 << 0 << 0 << 200 << std::int64_t(10240) << 341 << "0:10:23";
    // An output that never tells: the count stands in, a second past the end.
    QTest::newRow("10 s, silent output")
        << 10000 << -1 << 0 << 0 << 0 << std::int64_t(11010) << 367 << "0:11:1";
}

void TestAudioSource::automaticStopFollowsTheOutput() {
    QFETCH(std::int32_t, length);
    QFETCH(int, delay);
    QFETCH(int, phase);
    QFETCH(int, stale);
    QFETCH(int, gap);
    QFETCH(std::int64_t, handedAt);
    QFETCH(int, ticksBefore);
    QFETCH(QString, recTime);
    Rig rig;
    rig.open(QStringLiteral("/music/file.mp3"), length);
    rig.delay = delay;
    rig.stale = stale;
    rig.record();
    QCOMPARE(rig.player.lastCommand(), PlayerCommand::Play);
    QVERIFY(rig.source->MusicOn());
    QCOMPARE(rig.player.updateInterval(), 30);

    while (rig.stops == 0 && rig.sincePlay < length / 30 + 100) {
        if (rig.sincePlay == 5000 / 30)
            rig.delay += gap;
        rig.play(1, phase);
    }
    QCOMPARE(rig.stops, 1);
    QCOMPARE(rig.handedAt - rig.playAt, handedAt);
    if (delay >= 0) // the byte reaches the chip as the sound out reaches the end less 50 ms
        QCOMPARE(rig.handedAt + Transmitter::PaceMs - rig.playAt - delay - gap,
                 std::int64_t(length) - AudioSource::StopBeforeEndMs);
    QCOMPARE(rig.stopTick, ticksBefore);
    QCOMPARE(rig.source->RecElapsedMs(), 30 * ticksBefore);
    QCOMPARE(rig.recTime.text(), recTime);
    QVERIFY(!rig.source->RecOn());

    // Without a STOP reply the audio goes on: the position counts, the recording time does
    // not, and no second STOP is sent.
    rig.play(20, phase);
    QCOMPARE(rig.stops, 1);
    QVERIFY(!rig.source->autoStopTimer().isActive());
    QCOMPARE(rig.source->RecElapsedMs(), 30 * ticksBefore);
    QCOMPARE(rig.recTime.text(), recTime);
    QCOMPARE(rig.source->MusicPosMs(), 30 * rig.sincePlay);
}

void TestAudioSource::recordBeforeAnyFileStopsOnFirstTick() {
    Rig rig;
    rig.record();
    rig.tick();
    QCOMPARE(rig.stops, 1);
    QCOMPARE(rig.stopTick, 1);
    QCOMPARE(rig.source->RecElapsedMs(), 30);
    QCOMPARE(rig.recTime.text(), QStringLiteral("0:0:3"));
    QCOMPARE(rig.source->MusicPosMs(), 30);
    // MusicScale 0: nothing to divide by; the slider stays at 0.
    QCOMPARE(rig.slider.value(), 0);
    rig.tick(3);
    QCOMPARE(rig.stops, 1);
}

void TestAudioSource::recordRangeHasNoAutomaticStop() {
    Rig rig;
    rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.delay = 140;
    rig.recordRange();
    rig.play(400);
    QCOMPARE(rig.stops, 0);
    QVERIFY(!rig.source->autoStopTimer().isActive());
    QCOMPARE(rig.source->MusicPosMs(), 12000);
    QCOMPARE(rig.source->RecElapsedMs(), 0);
    QCOMPARE(rig.recTime.text(), QStringLiteral("REC Time"));
}

void TestAudioSource::operatorMoveDoesNotMoveAutomaticStop() {
    Rig rig;
    rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.delay = 140;
    rig.record();
    rig.play(100);
    rig.slider.setValue(27000); // the operator drags it near the end
    QCOMPARE(rig.source->MusicPosMs(), 9000);
    QCOMPARE(rig.player.startPoint, 9000);
    // The sound that plays does not jump, and the stop goes by the sound.
    rig.play(234);
    QCOMPARE(rig.stops, 0);
    rig.play(1);
    QCOMPARE(rig.stopTick, 334);
    QCOMPARE(rig.handedAt - rig.playAt, 10040);
}

// An armed automatic stop is taken back by whatever ends the recording or starts the sound
// anew before it is due.
void TestAudioSource::automaticStopTakenBack_data() {
    QTest::addColumn<QString>("by");
    QTest::addColumn<int>("stops"); // STOPs handed over in all
    QTest::newRow("stop button") << "stop" << 0;
    QTest::newRow("Play again") << "replay" << 1;
    QTest::newRow("record again") << "record" << 1;
}

void TestAudioSource::automaticStopTakenBack() {
    QFETCH(QString, by);
    QFETCH(int, stops);
    Rig rig;
    rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.delay = 140;
    rig.record();
    rig.play(333);
    QVERIFY(rig.source->autoStopTimer().isActive());
    QCOMPARE(rig.timerDue - rig.playAt, 10040);
    rig.clock = rig.timerDue - 1; // just before it is due
    if (by == QLatin1String("stop")) {
        rig.source->setRecOn(false); // the stop button's first step
    } else if (by == QLatin1String("replay")) {
        rig.source->replay(); // as the REC reply gives it after the end-of-file rewind
        QVERIFY(!rig.source->autoStopTimer().isActive());
        QCOMPARE(rig.source->stopHandOverAt(), -1);
        rig.playAt = rig.clock; // the file plays from its start again
        rig.sincePlay = 0;
    } else {
        rig.record();
        QVERIFY(!rig.source->autoStopTimer().isActive());
    }
    rig.clock = rig.timerDue;
    rig.setPlayed();
    rig.source->autoStopDue(); // a timeout already on its way changes nothing
    QCOMPARE(rig.stops, 0);
    // Whatever plays from here stops by its own sound.
    rig.play(400);
    QCOMPARE(rig.stops, stops);
    if (stops)
        QCOMPARE(rig.handedAt - rig.playAt, 10040);
}

// The record button's sound waits until REC is out; whatever else the player is told meanwhile
// takes the held "Play" back.
void TestAudioSource::playHeldUntilTheFrameIsOut_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("plays");
    QTest::newRow("nothing") << "" << true;
    QTest::newRow("STOP reply") << "hold" << false;
    QTest::newRow("another file opened") << "open" << false;
}

void TestAudioSource::playHeldUntilTheFrameIsOut() {
    QFETCH(QString, meanwhile);
    QFETCH(bool, plays);
    Rig rig;
    FakeSerialPort port;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    QVERIFY(port.open());
    rig.source->followTransmitter(tx);
    rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.delay = 20;
    rig.player.commands.clear();
    tx.SendBuf = {0x41}; // REC, written on the transmitter's next tick
    tx.Isd_Comm2_Send(1);
    rig.record();
    QVERIFY(rig.source->MusicOn());
    QCOMPARE(rig.player.updateInterval(), 30);
    // The ticks count from the click; a report left from before is not this recording's sound.
    rig.player.played = 9990;
    rig.clock += AudioSource::TickMs;
    rig.tick();
    QVERIFY(rig.player.commands.empty());
    QCOMPARE(rig.source->RecElapsedMs(), 30);
    QCOMPARE(rig.source->stopHandOverAt(), -1);
    if (meanwhile == QLatin1String("hold"))
        rig.source->holdRecordingSource();
    else if (meanwhile == QLatin1String("open"))
        rig.open(QStringLiteral("/music/other.mp3"), 5000);
    rig.clock += 20;
    tx.tick();
    QCOMPARE(port.written, QByteArray("\x41", 1));
    QCOMPARE(rig.player.lastCommand() == PlayerCommand::Play, plays);
    if (!plays)
        return;
    // From "Play" on, the stop goes by the sound: 50 ms before the end, less the pacing.
    rig.playAt = rig.clock;
    rig.sincePlay = 0;
    rig.play(400);
    QCOMPARE(rig.stops, 1);
    QCOMPARE(rig.handedAt - rig.playAt, 10000 + 20 - 50 - 50);
}

void TestAudioSource::noOutputForAFile_data() {
    QTest::addColumn<bool>("file");
    QTest::addColumn<QString>("outputError");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("ready");
    QTest::newRow("file, output plays") << true << ""
                                        << "" << true;
    QTest::newRow("file, no output") << true << "没有可用的声音输出"
                                     << "" << false;
    QTest::newRow("file, chosen output gone") << true << "声音输出 usb 不存在"
                                              << "USB Audio" << false;
    QTest::newRow("no file, no output") << false << "没有可用的声音输出"
                                        << "" << true;
}

void TestAudioSource::noOutputForAFile() {
    QFETCH(bool, file);
    QFETCH(QString, outputError);
    QFETCH(QString, outputName);
    QFETCH(bool, ready);
    Rig rig;
    if (file)
        rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.player.commands.clear();
    rig.player.outputError = outputError;
    if (!outputName.isEmpty())
        rig.source->setOutputName(outputName);
    QCOMPARE(rig.source->outputReadyForRecording(), ready);
    QVERIFY(rig.player.commands.empty());
    QCOMPARE(rig.boxes.boxes.size(), ready ? 0 : 1);
    if (!ready) {
        const auto& box = rig.boxes.boxes[0];
        const QString name = outputName.isEmpty() ? QStringLiteral("默认声音输出") : outputName;
        QVERIFY2(box.text.startsWith(QStringLiteral("没有声音输出：") + name),
                 qPrintable(box.text));
        QVERIFY2(box.text.contains(outputError), qPrintable(box.text));
        QCOMPARE(box.title, QStringLiteral("声音输出"));
        QCOMPARE(box.icon, MessageIcon::Critical);
    }
}

void TestAudioSource::ticksWithoutMusicChangeNothing() {
    Rig rig;
    rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.source->setRecOn(true); // even armed, nothing counts while the audio is off
    rig.tick(500);
    QCOMPARE(rig.source->MusicPosMs(), 0);
    QCOMPARE(rig.source->RecElapsedMs(), 0);
    QCOMPARE(rig.slider.value(), 0);
    QCOMPARE(rig.recTime.text(), QStringLiteral("REC Time"));
    QCOMPARE(rig.stops, 0);
}

void TestAudioSource::endOfFileRewinds() {
    Rig rig;
    rig.open(QStringLiteral("/music/ten.mp3"), 10000);
    rig.record();
    rig.tick(50);
    QCOMPARE(rig.slider.value(), 4500);
    rig.player.commands.clear();
    rig.player.waitSet = false;
    rig.player.setFileName(QStringLiteral("/elsewhere.mp3"));

    rig.player.modeValue = Ready;
    rig.tick();

    QCOMPARE(rig.slider.value(), 0);
    QCOMPARE(rig.source->MusicPosMs(), 0);
    QCOMPARE(rig.player.startPoint, 0);
    const std::vector<PlayerCommand> expected{PlayerCommand::close, PlayerCommand::Stop,
                                              PlayerCommand::Open, PlayerCommand::Play,
                                              PlayerCommand::Stop};
    QCOMPARE(rig.player.commands, expected);
    QVERIFY(rig.player.waitSet);
    QCOMPARE(rig.player.fileName(), QStringLiteral("/music/ten.mp3"));
    // The rewind tick counts nothing and leaves the recording as it was.
    QCOMPARE(rig.source->RecElapsedMs(), 1500);
    QVERIFY(rig.source->RecOn());
    QVERIFY(rig.source->MusicOn());
    QCOMPARE(rig.player.updateInterval(), 30);

    // Later ticks go on counting from there.
    rig.tick();
    QCOMPARE(rig.source->RecElapsedMs(), 1530);
    QCOMPARE(rig.source->MusicPosMs(), 30);
    QCOMPARE(rig.slider.value(), 90);
}

void TestAudioSource::endOfFileRewindsEvenWithSliderAtZero() {
    Rig rig;
    // Ratio capped at 255: 30 ms of play do not move the slider off 0.
    rig.open(QStringLiteral("/music/long.mp3"), 8000000);
    rig.recordRange();
    rig.tick(3);
    QCOMPARE(rig.slider.value(), 0);
    QCOMPARE(rig.source->MusicPosMs(), 90);

    rig.player.modeValue = Ready;
    rig.tick();
    QCOMPARE(rig.source->MusicPosMs(), 0);
    QCOMPARE(rig.player.startPoint, 0);
}

void TestAudioSource::scale_data() {
    QTest::addColumn<std::int32_t>("earlierLength"); // -1: no earlier file
    QTest::addColumn<std::int32_t>("length");
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("lengthText");

    QTest::newRow("180 s") << -1 << 180000 << 6 << 0 << "3:0:0";
    QTest::newRow("210 s") << -1 << 210000 << 7 << 0 << "3:30:0";
    QTest::newRow("45 s, truncated") << -1 << 45000 << 1 << 0 << "0:45:0";
    QTest::newRow("10 s") << -1 << 10000 << 3 << 1 << "0:10:0";
    QTest::newRow("20 s, truncated") << -1 << 20000 << 1 << 1 << "0:20:0";
    QTest::newRow("30 s keeps the scale") << 180000 << 30000 << 6 << 2 << "0:30:0";
    QTest::newRow("30 s first") << -1 << 30000 << 0 << 2 << "0:30:0";
    // Ratios that do not fit one byte are capped.
    QTest::newRow("7,679,999 ms") << -1 << 7679999 << 255 << 0 << "127:59:99";
    QTest::newRow("7,680,000 ms") << -1 << 7680000 << 255 << 0 << "128:0:0";
    QTest::newRow("longest") << -1 << std::numeric_limits<std::int32_t>::max() << 255 << 0
                             << "35791:23:64";
    QTest::newRow("118 ms") << -1 << 118 << 254 << 1 << "0:0:11";
    QTest::newRow("117 ms") << -1 << 117 << 255 << 1 << "0:0:11";
    QTest::newRow("1 ms") << -1 << 1 << 255 << 1 << "0:0:0";
    // No length: nothing to divide by, whatever came before.
    QTest::newRow("0 ms after 10 s") << 10000 << 0 << 0 << 0 << "0:0:0";
}

void TestAudioSource::scale() {
    QFETCH(std::int32_t, earlierLength);
    QFETCH(std::int32_t, length);
    QFETCH(int, scale);
    QFETCH(int, mode);
    QFETCH(QString, lengthText);
    Rig rig;
    if (earlierLength >= 0)
        rig.open(QStringLiteral("/music/earlier.mp3"), earlierLength);
    rig.open(QStringLiteral("/music/file.mp3"), length);
    QCOMPARE(rig.source->MusicLenMs(), length);
    QCOMPARE(int(rig.source->MusicScale()), scale);
    QCOMPARE(int(rig.source->MusicScaleMode()), mode);
    QCOMPARE(rig.fileLength.text(), lengthText);
}

void TestAudioSource::sliderFollowsPosition_data() {
    QTest::addColumn<std::int32_t>("earlierLength"); // -1: no earlier file
    QTest::addColumn<std::int32_t>("length");
    QTest::addColumn<std::int32_t>("startPos");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<std::int32_t>("position");
    QTest::addColumn<int>("slider");

    QTest::newRow("180 s, 10 ticks") << -1 << 180000 << 0 << 10 << 300 << 50;
    // The follow step's own move does not truncate the position to a multiple of 7.
    QTest::newRow("210 s, 1 tick") << -1 << 210000 << 0 << 1 << 30 << 4;
    QTest::newRow("210 s, 10 ticks") << -1 << 210000 << 0 << 10 << 300 << 42;
    QTest::newRow("10 s at 1,000 ms") << -1 << 10000 << 970 << 1 << 1000 << 3000;
    QTest::newRow("10 s at the end") << -1 << 10000 << 0 << 333 << 9990 << 29970;
    QTest::newRow("10 s past the range") << -1 << 10000 << 0 << 335 << 10050 << 29970;
    QTest::newRow("20 s while it plays") << -1 << 20000 << 0 << 666 << 19980 << 19980;
    QTest::newRow("20 s at 30,000 ms") << -1 << 20000 << 0 << 1000 << 30000 << 30000;
    QTest::newRow("20 s past 30,000 ms") << -1 << 20000 << 0 << 1010 << 30300 << 30000;
    QTest::newRow("45 s at 30,000 ms") << -1 << 45000 << 0 << 1000 << 30000 << 30000;
    QTest::newRow("45 s stays at the end") << -1 << 45000 << 0 << 1499 << 44970 << 30000;
    QTest::newRow("30 s") << 180000 << 30000 << 0 << 417 << 12510 << 12510;
    QTest::newRow("30 s stays at the end") << 180000 << 30000 << 0 << 1010 << 30300 << 30000;
    QTest::newRow("100 ms, capped ratio") << -1 << 100 << 0 << 3 << 90 << 22950;
    QTest::newRow("huge product, no overflow")
        << -1 << 100 << std::numeric_limits<std::int32_t>::max() - 100 << 1
        << std::numeric_limits<std::int32_t>::max() - 70 << 0;
}

void TestAudioSource::sliderFollowsPosition() {
    QFETCH(std::int32_t, earlierLength);
    QFETCH(std::int32_t, length);
    QFETCH(std::int32_t, startPos);
    QFETCH(int, ticks);
    QFETCH(std::int32_t, position);
    QFETCH(int, slider);
    Rig rig;
    if (earlierLength >= 0)
        rig.open(QStringLiteral("/music/earlier.mp3"), earlierLength);
    rig.open(QStringLiteral("/music/file.mp3"), length);
    rig.recordRange();
    rig.source->setMusicPosMs(startPos);
    rig.tick(ticks);
    QCOMPARE(rig.source->MusicPosMs(), position);
    QCOMPARE(rig.slider.value(), slider);
}

void TestAudioSource::operatorSliderMove_data() {
    QTest::addColumn<std::int32_t>("length"); // -1: no file opened
    QTest::addColumn<int>("value");
    QTest::addColumn<std::int32_t>("position");

    QTest::newRow("10 s to 15,000") << 10000 << 15000 << 5000;
    QTest::newRow("10 s to 15,001") << 10000 << 15001 << 5000;
    QTest::newRow("180 s to 50") << 180000 << 50 << 300;
    QTest::newRow("210 s to 4") << 210000 << 4 << 28;
    QTest::newRow("30 s to 12,345") << 30000 << 12345 << 12345;
    QTest::newRow("capped long file to the end") << 8000000 << 30000 << 7650000;
    QTest::newRow("capped short file") << 100 << 25500 << 100;
    QTest::newRow("before any file") << -1 << 20000 << 0;
    QTest::newRow("file of no length") << 0 << 20000 << 0;
}

void TestAudioSource::operatorSliderMove() {
    QFETCH(std::int32_t, length);
    QFETCH(int, value);
    QFETCH(std::int32_t, position);
    Rig rig;
    if (length >= 0)
        rig.open(QStringLiteral("/music/file.mp3"), length);
    rig.source->setMusicPosMs(777);
    rig.source->setRecElapsedMs(1234);
    rig.slider.setValue(value);
    QCOMPARE(rig.source->MusicPosMs(), position);
    QCOMPARE(rig.player.startPoint, position);
    QCOMPARE(rig.source->RecElapsedMs(), 1234);
}

void TestAudioSource::programMovesSetNoStartPoint() {
    Rig rig;
    rig.open(QStringLiteral("/music/file.mp3"), 210000);
    rig.recordRange();
    rig.tick(100);
    QCOMPARE(rig.slider.value(), 428);
    QCOMPARE(rig.player.startPoint, -1); // never given
    QCOMPARE(rig.source->MusicPosMs(), 3000);

    // A move through the slot (as a second connection from the window would make) during
    // a program move is ignored too; an operator move after it counts.
    rig.slider.setValue(1000);
    QCOMPARE(rig.player.startPoint, 7000);
    rig.tick();
    QCOMPARE(rig.source->MusicPosMs(), 7030);
    QCOMPARE(rig.player.startPoint, 7000);
}

QTEST_MAIN(TestAudioSource)
#include "tst_audio_source.moc"
