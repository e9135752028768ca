// Each message's length as the panel's player measures it (the file decoded whole), on WAV and
// MP3 files made here, and the files it cannot use; and the recording audio on a private
// sound server: the whole file out of the output, or a failure it names.
#include "audio/QtAudioPlayer.h"
#include "plan/Allocation.h"
#include "plan/Measure.h"
#include "plan/QtRecordingAudio.h"
#include "support/PulseServer.h"
#include "support/SinkCapture.h"
#include "support/Wav.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using namespace tamberlo::plan;

class TestPlanMeasure : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void measures();
    void recordingAudioLoads();
    void recordingAudioPlays_data();
    void recordingAudioPlays();

private:
    test::PulseServer server_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
    bool haveMp3_ = false;
};

void TestPlanMeasure::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY2(server_.ok(), qPrintable(server_.error()));
    QVERIFY(test::writeWav(path("700ms.wav"), 8000, 1, 700));
    QVERIFY(test::writeWav(path("2s.wav"), 22050, 2, 2000));
    const QString lame = QStandardPaths::findExecutable("lame");
    // Low rate without a VBR header: the backend does not know its length until played.
    haveMp3_ = !lame.isEmpty() &&
               QProcess::execute(lame, {"--quiet", path("2s.wav"), path("2s.mp3")}) == 0;
    QFile text(path("notes.wav"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("this is no sound\n");
    text.close();
    QVERIFY(QDir(dir_.path()).mkdir("folder.wav"));
}

void TestPlanMeasure::measures() {
    Plan plan;
    const QStringList names{"700ms.wav",   "2s.wav",    "2s.mp3",
                            "missing.wav", "notes.wav", "folder.wav"};
    for (const QString& n : names)
        plan.messages.append({n, n, path(n), std::nullopt, std::nullopt});
    QtAudioPlayer player;
    const QList<MeasuredFile> files = measureFiles(plan, player);
    QCOMPARE(files.size(), names.size());

    // file, length (0: none), tolerance, the reason's words
    const struct {
        int length;
        int tolerance;
        const char* why;
    } expected[] = {{700, 5, ""},
                    {2000, 5, ""},
                    {2000, 60, ""},
                    {0, 0, "no such file"},
                    {0, 0, "cannot be played"},
                    {0, 0, "not a file"}};
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i].endsWith(".mp3") && !haveMp3_)
            continue;
        const auto& e = expected[i];
        if (e.length > 0) {
            QVERIFY2(files[i].lengthMs, qPrintable(names[i] + ": " + files[i].problem));
            QVERIFY2(std::abs(*files[i].lengthMs - e.length) <= e.tolerance,
                     qPrintable(names[i] + ": " + QString::number(*files[i].lengthMs)));
        } else {
            QVERIFY2(!files[i].lengthMs, qPrintable(names[i]));
            QVERIFY2(files[i].problem.contains(e.why), qPrintable(files[i].problem));
        }
    }

    // The failures reach the layout's problems, named by message and file.
    const Layout layout = allocate(plan, files, findChipModel("ISD1760"));
    QCOMPARE(layout.problems.size(), 3);
    QVERIFY2(layout.problems[0].startsWith("message 4 \"missing.wav\": missing.wav: no such file"),
             qPrintable(layout.problems[0]));

    // A good file after a bad one still measures (the player recovers).
    QCOMPARE(measureFile(path("700ms.wav"), player).lengthMs.value_or(0) / 10, 70);
}

void TestPlanMeasure::recordingAudioLoads() {
    QtRecordingAudio audio;
    QString why;
    QVERIFY2(audio.load(path("700ms.wav"), &why), qPrintable(why));
    QVERIFY(std::abs(audio.lengthMs() - 700) <= 5);
    QCOMPARE(audio.playedMs(), 0);
    audio.start();
    QTRY_VERIFY_WITH_TIMEOUT(audio.playedMs() > 0, 5000);
    audio.stop();
    QVERIFY(!audio.load(path("notes.wav"), &why));
    QVERIFY2(why.contains("cannot be played"), qPrintable(why));
    QVERIFY2(audio.load(path("700ms.wav"), &why), qPrintable(why));
}

enum class Trouble { None, NoServer, NoSuchOutput, ServerLost };
Q_DECLARE_METATYPE(Trouble)

void TestPlanMeasure::recordingAudioPlays_data() {
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<QString>("file");
    QTest::newRow("plays whole") << Trouble::None << "700ms.wav";
    QTest::newRow("plays whole, stereo") << Trouble::None << "2s.wav";
    QTest::newRow("no sound server") << Trouble::NoServer << "700ms.wav";
    QTest::newRow("no such output") << Trouble::NoSuchOutput << "700ms.wav";
    QTest::newRow("server lost while playing") << Trouble::ServerLost << "2s.wav";
}

void TestPlanMeasure::recordingAudioPlays() {
    QFETCH(Trouble, trouble);
    QFETCH(QString, file);
    std::optional<test::PulseServer> own;
    std::optional<test::PulseServer::Nowhere> nowhere;
    if (trouble == Trouble::ServerLost) {
        own.emplace();
        QVERIFY2(own->ok(), qPrintable(own->error()));
    }
    if (trouble == Trouble::NoServer)
        nowhere.emplace();
    QtRecordingAudio audio;
    if (trouble == Trouble::NoSuchOutput)
        audio.setOutputDevice("tamberlo_nowhere");
    QString why;
    QVERIFY2(audio.load(path(file), &why), qPrintable(why));
    const bool ready = audio.outputReady(&why);
    const bool outputThere = trouble == Trouble::None || trouble == Trouble::ServerLost;
    QCOMPARE(ready, outputThere);
    if (outputThere)
        QVERIFY2(audio.outputName().contains("Null Output"), qPrintable(audio.outputName()));
    else
        QVERIFY(!why.isEmpty());

    if (!outputThere) {
        audio.start();
        // Nothing played, and said so: never a finished recording of silence.
        QVERIFY(!audio.failure().isEmpty());
        QVERIFY(!audio.finished());
        QCOMPARE(audio.playedMs(), 0);
        return;
    }
    if (trouble == Trouble::ServerLost) {
        audio.start();
        QTRY_VERIFY_WITH_TIMEOUT(audio.playedMs() >= 300, 5000);
        own.reset(); // the server ends
        QTRY_VERIFY_WITH_TIMEOUT(!audio.failure().isEmpty(), 5000);
        qInfo("failure: %s", qPrintable(audio.failure()));
        QVERIFY(!audio.finished());
        return;
    }
    // What comes out of the sink, against the played clock read as the plan reads it.
    using test::SinkCapture;
    SinkCapture capture(server_);
    QVERIFY2(capture.start(&why), qPrintable(why));
    std::vector<std::pair<qint64, std::int64_t>> clockReads; // monotonic µs, played ms
    bool wentBack = false;
    const qint64 startUs = SinkCapture::nowUs();
    audio.start();
    QTRY_VERIFY_WITH_TIMEOUT((clockReads.emplace_back(SinkCapture::nowUs(), audio.playedMs()),
                              wentBack = wentBack || (clockReads.size() > 1 &&
                                                      clockReads.back().second <
                                                          clockReads[clockReads.size() - 2].second),
                              audio.finished() || !audio.failure().isEmpty()),
                             audio.lengthMs() + 5000);
    const qint64 endUs = SinkCapture::nowUs();
    QVERIFY(capture.waitUntilCaptured(endUs + 100000, 3000));
    capture.stop();
    QVERIFY2(audio.failure().isEmpty(), qPrintable(audio.failure()));
    QVERIFY(!wentBack);
    QCOMPARE(audio.playedMs(), audio.lengthMs());

    // The whole file came out, without a gap.
    const auto onset = capture.onsetUs(startUs - 100000, endUs + 100000);
    const auto offset = capture.offsetUs(startUs - 100000, endUs + 100000);
    QVERIFY2(onset && offset, qPrintable(capture.describe()));
    const double outMs = double(*offset - *onset) / 1000;
    const QList<SinkCapture::Gap> gaps = capture.gaps(*onset, *offset, 5000);
    qInfo("came out %.1f ms after start: %.1f ms of %lld ms, %lld gaps of 5 ms or more",
          double(*onset - startUs) / 1000, outMs, static_cast<long long>(audio.lengthMs()),
          static_cast<long long>(gaps.size()));
    QVERIFY2(std::abs(outMs - double(audio.lengthMs())) <= 5, qPrintable(QString::number(outMs)));
    QVERIFY(gaps.isEmpty());
    // The played clock told what had come out: each reading against the sound's onset.
    double worst = 0;
    for (const auto& [atUs, playedMs] : clockReads) {
        if (playedMs > 0 && playedMs < audio.lengthMs())
            worst = std::max(worst, std::abs(double(atUs - *onset) / 1000 - double(playedMs)));
    }
    qInfo("played clock against the sink's monitor: worst error %.1f ms over %zu readings", worst,
          clockReads.size());
    QVERIFY2(worst <= 15, qPrintable(QString::number(worst)));
}

QTEST_GUILESS_MAIN(TestPlanMeasure)
#include "tst_plan_measure.moc"
