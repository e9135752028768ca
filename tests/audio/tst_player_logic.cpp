// The player's and the recording audio's logic on a scripted output: modes, where "Play"
// starts, the start point, "Ready" only when the last sample has come out, and every way a
// playing fails being reported rather than taken for the end of the file.
#include "audio/QtAudioPlayer.h"
#include "plan/QtRecordingAudio.h"
#include "support/Wav.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;

namespace {

// An output whose played clock and troubles the test sets.
struct ScriptedOutput : PcmOutput {
    struct Script {
        bool refuse = false;
        std::int64_t startedFrom = -1;
        int starts = 0;
        State state;
    };
    explicit ScriptedOutput(Script* script) : s(script) {}
    void setDevice(const QByteArray&) override {}
    bool start(std::shared_ptr<const Pcm>, std::int64_t fromFrame, QString* why) override {
        ++s->starts;
        if (s->refuse) {
            *why = QStringLiteral("refused");
            return false;
        }
        s->startedFrom = fromFrame;
        s->state = {};
        s->state.playing = true;
        return true;
    }
    void stop() override { s->state.playing = false; }
    State state() const override { return s->state; }
    Script* s;
};

} // namespace

class TestPlayerLogic : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(test::writeWav(dir_.filePath("1s.wav"), 8000, 1, 1000));
    }
    void player_data();
    void player();
    void openSequenceMakesNoSound();
    void recording_data();
    void recording();

private:
    QTemporaryDir dir_;
};

// Steps: "play", "pause", "stop", "start:<ms>" (start point), "out:<frames>" (the output has
// played that far), "end" (the output's last sample is out), "fail" (the output failed),
// "refuse" (the output refuses the next start). After the steps: the mode, the position, the
// frame the last start began at.
void TestPlayerLogic::player_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("startedFrom");
    QTest::newRow("held at the start") << QStringList{} << int(Paused) << 0 << -1;
    QTest::newRow("playing, nothing out yet") << QStringList{"play"} << int(Playing) << 0 << 0;
    QTest::newRow("playing") << QStringList{"play", "out:4000"} << int(Playing) << 500 << 0;
    QTest::newRow("paused where it was")
        << QStringList{"play", "out:4000", "pause"} << int(Paused) << 500 << 0;
    QTest::newRow("resumed where paused")
        << QStringList{"play", "out:4000", "pause", "play"} << int(Playing) << 500 << 4000;
    QTest::newRow("start point waits for the next play")
        << QStringList{"play", "out:800", "start:750"} << int(Playing) << 100 << 0;
    QTest::newRow("start point at the next play")
        << QStringList{"play", "out:800", "start:750", "pause", "play"} << int(Playing) << 750
        << 6000;
    QTest::newRow("ready at the end")
        << QStringList{"play", "out:7999", "end"} << int(Ready) << 1000 << 0;
    QTest::newRow("from the start after the end")
        << QStringList{"play", "end", "play"} << int(Playing) << 0 << 0;
    QTest::newRow("stop rewinds") << QStringList{"play", "out:4000", "stop"} << int(Stopped) << 0
                                  << 0;
    QTest::newRow("a failed output is not the end")
        << QStringList{"play", "out:4000", "fail"} << int(Stopped) << 500 << 0;
    QTest::newRow("a refused start does not play")
        << QStringList{"refuse", "play"} << int(Stopped) << 0 << -1;
}

void TestPlayerLogic::player() {
    QFETCH(QStringList, steps);
    QFETCH(int, mode);
    QFETCH(int, position);
    QFETCH(int, startedFrom);
    ScriptedOutput::Script script;
    QtAudioPlayer p(std::make_unique<ScriptedOutput>(&script));
    openHeld(p, dir_.filePath("1s.wav"));
    QCOMPARE(p.length(), 1000);
    for (const QString& step : steps) {
        const QString arg = step.section(':', 1);
        if (step == "play") {
            p.command(PlayerCommand::Play);
            QCOMPARE(p.mode(), std::int32_t(Playing));
            QCoreApplication::processEvents(); // the stream starts on the next turn
        } else if (step == "pause") {
            p.command(PlayerCommand::Pause);
        } else if (step == "stop") {
            p.command(PlayerCommand::Stop);
        } else if (step.startsWith("start:")) {
            p.setStartPoint(arg.toInt());
        } else if (step.startsWith("out:")) {
            script.state.playedFrames = arg.toInt();
        } else if (step == "end") {
            script.state.playedFrames = 8000;
            script.state.finished = true;
        } else if (step == "fail") {
            script.state.failure = QStringLiteral("the output went away");
        } else if (step == "refuse") {
            script.refuse = true;
        }
    }
    QCOMPARE(p.mode(), std::int32_t(mode));
    QCOMPARE(p.position(), std::int64_t(position));
    QCOMPARE(script.startedFrom, std::int64_t(startedFrom));
    if (mode == Ready)
        QCOMPARE(p.playedMs(), std::int64_t(1000));
    if (mode == Stopped && steps.contains("play"))
        QVERIFY(!p.playFailure().isEmpty() || steps.contains("stop"));
}

void TestPlayerLogic::openSequenceMakesNoSound() {
    ScriptedOutput::Script script;
    QtAudioPlayer p(std::make_unique<ScriptedOutput>(&script));
    openHeld(p, dir_.filePath("1s.wav"));
    QCoreApplication::processEvents();
    QCOMPARE(script.starts, 0);
    QCOMPARE(p.playedMs(), std::int64_t(-1));
}

// The recording audio's judgement: finished only with the last sample out, any failure
// reported, never finished and failed at once.
void TestPlayerLogic::recording_data() {
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<int>("playedFrames");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("outputFailure");
    QTest::addColumn<bool>("stillPlaying");
    QTest::addColumn<bool>("expectFinished");
    QTest::addColumn<bool>("expectFailure");
    QTest::addColumn<int>("playedMs");
    QTest::newRow("nothing out yet") << false << -1 << false << "" << true << false << false << 0;
    QTest::newRow("half out") << false << 4000 << false << "" << true << false << false << 500;
    QTest::newRow("all out") << false << 8000 << true << "" << true << true << false << 1000;
    QTest::newRow("refused") << true << -1 << false << "" << false << false << true << 0;
    QTest::newRow("starved") << false << 4000 << false << "ran dry" << true << false << true << 500;
    QTest::newRow("stream closed under it")
        << false << 4000 << false << "" << false << false << true << 500;
}

void TestPlayerLogic::recording() {
    QFETCH(bool, refuse);
    QFETCH(int, playedFrames);
    QFETCH(bool, finished);
    QFETCH(QString, outputFailure);
    QFETCH(bool, stillPlaying);
    QFETCH(bool, expectFinished);
    QFETCH(bool, expectFailure);
    QFETCH(int, playedMs);
    ScriptedOutput::Script script;
    script.refuse = refuse;
    plan::QtRecordingAudio audio(std::make_unique<ScriptedOutput>(&script));
    QString why;
    QVERIFY2(audio.load(dir_.filePath("1s.wav"), &why), qPrintable(why));
    QCOMPARE(audio.lengthMs(), std::int64_t(1000));
    QVERIFY(audio.failure().isEmpty());
    audio.start();
    if (!refuse) {
        script.state.playedFrames = playedFrames;
        script.state.finished = finished;
        script.state.failure = outputFailure;
        script.state.playing = stillPlaying;
    }
    QCOMPARE(audio.finished(), expectFinished);
    QCOMPARE(!audio.failure().isEmpty(), expectFailure);
    QCOMPARE(audio.playedMs(), std::int64_t(playedMs));
}

QTEST_MAIN(TestPlayerLogic)
#include "tst_player_logic.moc"
