// tamberlo-cli program against the bridge simulator with a private PulseAudio server as the
// PC's sound output: what the chip records is the sound that came out of the output between
// the SET_REC frame and the STOP byte. Each prompt (tones and noise with sharp edges, WAV at
// several rates and an MP3, made here with sox and lame) is judged from the capture of the
// null sink's monitor and the simulator's byte log, both on the monotonic clock:
//   - prompt content lost (sound before SET_REC was complete, after STOP, or never out, the
//     content being the played file's as paplay gets it out of the same sink): 5 ms at most;
//   - the STOP byte after the last sample came out: not before it (within the rig's 2 ms), at
//     most 300 ms after;
//   - no quiet stretch longer than 20 ms inside the prompt.
// With no sound output at all the tool refuses before the first SET_REC, with a non-zero exit.
// The figures over many messages are bench_sound's.
#include "e2e/SoundRig.h"
#include "support/PulseServer.h"
#include "support/RealTime.h"
#include "support/SinkCapture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace tamberlo;
using namespace tamberlo::e2e;
using tamberlo::test::PulseServer;
using tamberlo::test::SinkCapture;

namespace {

// What the comparison of the two clocks can be off by: a captured sample's time is good to
// well under a millisecond (tst_sound_rig), the byte log stamps a byte when the simulator
// reads it. A STOP up to 2 ms before the last sample still counts as after it.
constexpr double CaptureErrorMs = 2.0;
constexpr double MaxLostMs = 5.0;
constexpr double MaxStopAfterEndMs = 300.0;
constexpr double MaxGapMs = 20.0;

struct Prompt {
    QString name;
    PromptRecipe recipe;
    QString file;
    double contentMs = 0;
};

} // namespace

class SoundE2eTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void promptArrivesWhole_data();
    void promptArrivesWhole();
    void noOutputRefusesBeforeSetRec();
    void cleanup();

private:
    ProgramRun cli(const QStringList& arguments);

    RuntimeDir runtime_;
    QTemporaryDir files_;
    std::unique_ptr<PulseServer> server_;
    std::unique_ptr<Simulator> sim_;
    QList<Prompt> prompts_;
    ProgramRun run_;
    QList<RecordedMessage> recorded_;
    std::unique_ptr<SinkCapture> capture_;
    qint64 startedUs_ = 0;
    qint64 endedUs_ = 0;
};

ProgramRun SoundE2eTest::cli(const QStringList& arguments) {
    return runProgram(QStringLiteral(TAMBERLO_CLI),
                      QStringList{QStringLiteral("--timeout"), QStringLiteral("5000")} + arguments,
                      runtime_.environment(), 60000);
}

// One program run of every prompt, captured; the rows below each judge one message of it.
void SoundE2eTest::initTestCase() {
    QVERIFY(runtime_.isValid());
    QVERIFY(files_.isValid());
    server_ = std::make_unique<PulseServer>();
    QVERIFY2(server_->ok(), qPrintable(server_->error()));

    using K = PromptRecipe::Kind;
    const QList<std::pair<QString, PromptRecipe>> recipes = {
        {QStringLiteral("tone 8k"), {K::Tone, 8000, 1, 600, false, 1000, {}}},
        {QStringLiteral("noise 16k"), {K::Noise, 16000, 1, 500, false, 0, {}}},
        {QStringLiteral("square 22k stereo"), {K::Square, 22050, 2, 450, false, 500, {}}},
        {QStringLiteral("noise 44k"), {K::Noise, 44100, 2, 400, false, 0, {}}},
        {QStringLiteral("tone 48k mp3"), {K::Tone, 48000, 1, 700, true, 800, {}}},
    };
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("71"), QStringLiteral("--json"),
                          QStringLiteral("program")};
    for (const auto& [name, recipe] : recipes) {
        Prompt p{name, recipe, {}, 0};
        QString why;
        const QString base = files_.filePath(QString(name).replace(' ', '-'));
        p.file = makePrompt(recipe, base, &why);
        QVERIFY2(!p.file.isEmpty(), qPrintable(why));
        const QString played = playedWav(p.file, base, &why);
        QVERIFY2(!played.isEmpty(), qPrintable(why));
        // The content the chip can get: the played file (an MP3 decoded) as an independent
        // player gets it out of this sink, resampled and rounded as the tool's stream is.
        const auto atSink = test::soundAtSink(*server_, played, &why);
        QVERIFY2(atSink, qPrintable(why));
        p.contentMs = atSink->contentMs;
        QVERIFY(p.contentMs > 0);
        arguments << p.file;
        prompts_.append(p);
    }

    QVERIFY(startSimulator(sim_, runtime_, 71));
    test::stampAtRealTimePriority(pid_t(sim_->process().processId())); // it stands for the chip
    capture_ = std::make_unique<SinkCapture>(*server_);
    QString why;
    QVERIFY2(capture_->start(&why), qPrintable(why));
    startedUs_ = SinkCapture::nowUs();
    run_ = cli(arguments);
    endedUs_ = SinkCapture::nowUs();
    // Whatever a late player still sends after the tool has ended.
    QVERIFY(capture_->waitUntilCaptured(endedUs_ + 500000, 10000));
    capture_->stop();
    recorded_ = recordedMessages(*sim_);
    if (run_.exitCode != 0)
        qWarning("tamberlo-cli program exited %d: %s", run_.exitCode, qPrintable(run_.err));
}

void SoundE2eTest::promptArrivesWhole_data() {
    QTest::addColumn<int>("index");
    for (qsizetype i = 0; i < prompts_.size(); ++i)
        QTest::newRow(qPrintable(prompts_[i].name)) << int(i);
}

void SoundE2eTest::promptArrivesWhole() {
    QFETCH(int, index);
    const Prompt& prompt = prompts_[index];
    QVERIFY2(run_.exitCode == 0,
             qPrintable(QStringLiteral("exit %1: %2").arg(run_.exitCode).arg(run_.err)));
    QVERIFY2(recorded_.size() == prompts_.size(),
             qPrintable(QStringLiteral("%1 SET_REC frames for %2 prompts")
                            .arg(recorded_.size())
                            .arg(prompts_.size())));
    const RecordedMessage& m = recorded_[index];
    QVERIFY2(m.stopUs > m.setRecEndUs, "no STOP after the SET_REC frame");

    // The prompt's sound: from the quiet before it (after the previous message's STOP) to the
    // quiet after it (before the next SET_REC frame is complete).
    const qint64 from =
        index == 0 ? startedUs_
                   : test::promptBoundaryUs(*capture_, recorded_[index - 1].stopUs, m.setRecEndUs);
    const qint64 to =
        index + 1 < recorded_.size()
            ? test::promptBoundaryUs(*capture_, m.stopUs, recorded_[index + 1].setRecEndUs)
            : endedUs_ + 500000;
    const test::PromptSound sound =
        test::measurePrompt(*capture_, from, to, m.setRecEndUs, m.stopUs, prompt.contentMs);
    QVERIFY2(sound.heard,
             qPrintable(QStringLiteral("no sound came out: %1").arg(capture_->describe())));
    const QString figures =
        QStringLiteral("%1 ms of content: sound %2 ms after SET_REC for %3 ms, STOP %4 ms after "
                       "the last sound; lost %5 ms (never out %6 ms); longest gap %7 ms")
            .arg(prompt.contentMs, 0, 'f', 1)
            .arg(sound.onsetAfterRecMs, 0, 'f', 1)
            .arg((sound.offsetUs - sound.onsetUs) / 1000.0, 0, 'f', 1)
            .arg(sound.stopAfterEndMs, 0, 'f', 1)
            .arg(sound.lostMs, 0, 'f', 1)
            .arg(sound.cutMs, 0, 'f', 1)
            .arg(sound.longestGapMs, 0, 'f', 1);
    qInfo("%s", qPrintable(figures));
    QVERIFY2(sound.lostMs <= MaxLostMs, qPrintable(figures));
    QVERIFY2(sound.stopAfterEndMs >= -CaptureErrorMs && sound.stopAfterEndMs <= MaxStopAfterEndMs,
             qPrintable(figures));
    QVERIFY2(sound.longestGapMs <= MaxGapMs, qPrintable(figures));
}

// No sound output (PULSE_SERVER leads nowhere): nothing would reach the chip, so the tool
// refuses before the first SET_REC and says so with a non-zero exit.
void SoundE2eTest::noOutputRefusesBeforeSetRec() {
    QVERIFY(startSimulator(sim_, runtime_, 72));
    ProgramRun run;
    {
        PulseServer::Nowhere nowhere;
        run = cli({QStringLiteral("--port"), QStringLiteral("72"), QStringLiteral("program"),
                   prompts_.front().file});
    }
    QVERIFY2(run.exitCode > 0,
             qPrintable(QStringLiteral("exit %1: %2%3").arg(run.exitCode).arg(run.out, run.err)));
    QVERIFY2(!anySetRec(*sim_), qPrintable(sim_->tail()));
}

void SoundE2eTest::cleanup() {
    if (QTest::currentTestFailed() && sim_)
        qWarning("%s", qPrintable(sim_->tail(6)));
}

QTEST_MAIN(SoundE2eTest)
#include "tst_sound_e2e.moc"
