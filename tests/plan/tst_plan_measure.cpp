// Each message's length as the panel's player (Qt Multimedia) measures it, on WAV and MP3
// files made here, and the files it cannot use. Runs without a sound device.
#include "audio/QtAudioPlayer.h"
#include "plan/Allocation.h"
#include "plan/Measure.h"
#include "plan/QtRecordingAudio.h"
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

private:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
    bool haveMp3_ = false;
};

void TestPlanMeasure::initTestCase() {
    QVERIFY(dir_.isValid());
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
    const Layout layout = allocate(plan, files, findChipMemory("ISD1760"));
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

QTEST_GUILESS_MAIN(TestPlanMeasure)
#include "tst_plan_measure.moc"
