// The player against WAV and MP3 files made here at run time, playing on a private sound
// server; and with no sound server at all, where it must not pretend to play.
#include "audio/QtAudioPlayer.h"
#include "support/PulseServer.h"
#include "support/Wav.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cmath>

using namespace tamberlo;
using tamberlo::test::writeWav;

namespace {

// A 16-bit PCM WAV file of a quiet 440 Hz tone.

// The encoder's choices (bit rate, VBR header) follow the WAV's sample rate.
// At 128 kbit/s the encoder writes a VBR header with the length; at its own choice for a
// low sample rate (32 kbit/s at 22.05 kHz) the frames are too small for one.
bool encodeMp3(const QString& wav, const QString& mp3, bool withHeader = true) {
    const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
    if (lame.isEmpty())
        return false;
    QStringList args{QStringLiteral("--quiet")};
    if (withHeader)
        args << QStringLiteral("-b") << QStringLiteral("128");
    return QProcess::execute(lame, args << wav << mp3) == 0;
}

} // namespace

class TestQtAudioPlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void nothingCreatedBeforeOpen();
    void length_data();
    void length();
    void lengthOfLowRateMp3IsItsPlayingTime();
    void playMovesAndPauseHolds();
    void startPointAppliesAtNextPlay();
    void endIsReportedAsReady();
    void unopenable_data();
    void unopenable();
    void statusUpdates();
    void noOutputPlaysNothing();
    void lostServerFailsThePlaying();

private:
    // A null sink that rewinds holds its played clock for 20-25 ms at its 2 s latency block
    // when nothing records its monitor; these tests record nothing.
    test::PulseServer server_{{0, true}};
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
    bool haveMp3_ = false;
};

void TestQtAudioPlayer::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY2(server_.ok(), qPrintable(server_.error()));
    QVERIFY(writeWav(path("3s.wav"), 44100, 2, 3000));
    QVERIFY(writeWav(path("1234ms-8k-mono.wav"), 8000, 1, 1234));
    QVERIFY(writeWav(path("10s.wav"), 22050, 1, 10000));
    QVERIFY(writeWav(path("800ms.wav"), 44100, 1, 800));
    QVERIFY(writeWav(path("1500ms-22k-mono.wav"), 22050, 1, 1500));
    haveMp3_ = encodeMp3(path("3s.wav"), path("3s.mp3")) &&
               encodeMp3(path("10s.wav"), path("10s.mp3")) &&
               encodeMp3(path("1500ms-22k-mono.wav"), path("1500ms-22k-mono.mp3"), false);

    QFile text(path("notes.mp3"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a sound file\n");
    text.close();
    QFile empty(path("empty.wav"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QFile whole(path("3s.wav"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile cut(path("cut.wav"));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(whole.read(30)); // stops inside the header
    cut.close();
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("folder.mp3")));
}

void TestQtAudioPlayer::nothingCreatedBeforeOpen() {
    QtAudioPlayer p;
    p.setUpdateInterval(30);
    p.setUpdateInterval(0);
    p.setStartPoint(500);
    for (auto c : {PlayerCommand::Play, PlayerCommand::Pause, PlayerCommand::Stop,
                   PlayerCommand::close, PlayerCommand::Close})
        p.command(c);
    QVERIFY(p.pcm() == nullptr);
    QCOMPARE(p.playedMs(), std::int64_t(-1));
    QCOMPARE(p.lastCommand(), PlayerCommand::Close);
    QCOMPARE(p.mode(), std::int32_t(NotOpen));
    QCOMPARE(p.length(), 0);
}

void TestQtAudioPlayer::length_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("wav 44.1 kHz stereo") << "3s.wav" << 3000 << 5;
    QTest::newRow("wav 8 kHz mono") << "1234ms-8k-mono.wav" << 1234 << 5;
    QTest::newRow("wav 10 s") << "10s.wav" << 10000 << 5;
    QTest::newRow("mp3 3 s") << "3s.mp3" << 3000 << 30;
    QTest::newRow("mp3 10 s") << "10s.mp3" << 10000 << 30;
}

void TestQtAudioPlayer::length() {
    QFETCH(QString, file);
    QFETCH(int, expected);
    QFETCH(int, tolerance);
    if (file.endsWith(QLatin1String(".mp3")) && !haveMp3_)
        QSKIP("lame is not installed");
    QtAudioPlayer p;
    openHeld(p, path(file));
    QCOMPARE(p.errorText(), QString());
    QCOMPARE(p.fileName(), path(file));
    QVERIFY2(std::abs(p.length() - expected) <= tolerance, qPrintable(QString::number(p.length())));
    QCOMPARE(p.mode(), std::int32_t(Paused));
    QCOMPARE(p.lastCommand(), PlayerCommand::Pause);
    QVERIFY(p.position() < 100);
}

void TestQtAudioPlayer::lengthOfLowRateMp3IsItsPlayingTime() {
    // 32 kbit/s MPEG 2 without a VBR header: only decoding the whole file tells its length.
    if (!haveMp3_)
        QSKIP("lame is not installed");
    QtAudioPlayer p;
    openHeld(p, path("1500ms-22k-mono.mp3"));
    QCOMPARE(p.errorText(), QString());
    const std::int32_t length = p.length();
    // The encoder's padding is played too.
    QVERIFY2(length >= 1500 && length <= 1600, qPrintable(QString::number(length)));

    p.command(PlayerCommand::Play);
    QTRY_COMPARE_WITH_TIMEOUT(p.mode(), std::int32_t(Ready), 5000);
    // What came out of the output is that length.
    QVERIFY2(std::abs(p.playedMs() - length) <= 1,
             qPrintable(QStringLiteral("%1 played, %2 decoded").arg(p.playedMs()).arg(length)));
}

void TestQtAudioPlayer::playMovesAndPauseHolds() {
    QtAudioPlayer p;
    openHeld(p, path("3s.wav"));
    p.command(PlayerCommand::Play);
    QTRY_COMPARE_WITH_TIMEOUT(p.mode(), std::int32_t(Playing), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(p.position() >= 300, 3000);

    p.command(PlayerCommand::Pause);
    QTRY_COMPARE_WITH_TIMEOUT(p.mode(), std::int32_t(Paused), 2000);
    const qint64 held = p.position();
    QTest::qWait(400);
    QVERIFY2(std::abs(p.position() - held) <= 40,
             qPrintable(QStringLiteral("%1 -> %2").arg(held).arg(p.position())));

    p.command(PlayerCommand::Play);
    QTRY_VERIFY_WITH_TIMEOUT(p.position() >= held + 200, 3000);
    QVERIFY(p.position() < 3000);
}

void TestQtAudioPlayer::startPointAppliesAtNextPlay() {
    QtAudioPlayer p;
    openHeld(p, path("3s.wav"));
    p.command(PlayerCommand::Play);
    QTRY_VERIFY_WITH_TIMEOUT(p.position() >= 100, 3000);

    // Given while playing: the sound goes on where it is.
    p.setStartPoint(2000);
    QTest::qWait(150);
    QVERIFY2(p.position() < 2000, qPrintable(QString::number(p.position())));

    p.command(PlayerCommand::Pause);
    p.command(PlayerCommand::Play);
    QTRY_VERIFY_WITH_TIMEOUT(p.position() >= 2000, 2000);
    QVERIFY(p.position() < 2800);

    // Used once: the next resume goes on from where it was paused.
    p.command(PlayerCommand::Pause);
    QTRY_COMPARE_WITH_TIMEOUT(p.mode(), std::int32_t(Paused), 2000);
    const qint64 held = p.position();
    p.command(PlayerCommand::Play);
    QTest::qWait(100);
    QVERIFY2(p.position() >= held, qPrintable(QString::number(p.position())));
}

void TestQtAudioPlayer::endIsReportedAsReady() {
    QtAudioPlayer p;
    openHeld(p, path("800ms.wav"));
    QElapsedTimer clock;
    clock.start();
    p.command(PlayerCommand::Play);
    QTRY_COMPARE_WITH_TIMEOUT(p.mode(), std::int32_t(Ready), 5000);
    // Played in real time, not raced through.
    QVERIFY2(clock.elapsed() >= 700, qPrintable(QString::number(clock.elapsed())));

    // The panel's rewind: loaded again and stopped at the start.
    p.command(PlayerCommand::close);
    QCOMPARE(p.mode(), std::int32_t(NotOpen));
    QCOMPARE(p.length(), 0);
    p.setWait(true);
    p.command(PlayerCommand::Stop);
    p.command(PlayerCommand::Open);
    p.command(PlayerCommand::Play);
    p.command(PlayerCommand::Stop);
    QCOMPARE(p.mode(), std::int32_t(Stopped));
    QCOMPARE(p.length(), 800);
    QVERIFY(p.position() < 100);
}

void TestQtAudioPlayer::unopenable_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("not audio") << "notes.mp3";
    QTest::newRow("empty") << "empty.wav";
    QTest::newRow("cut in the header") << "cut.wav";
    QTest::newRow("missing") << "nowhere.mp3";
    QTest::newRow("a folder") << "folder.mp3";
    QTest::newRow("no name") << "";
}

void TestQtAudioPlayer::unopenable() {
    QFETCH(QString, file);
    QtAudioPlayer p;
    // A good file first, so nothing of it may be left standing.
    openHeld(p, path("3s.wav"));
    QCOMPARE(p.length(), 3000);

    openHeld(p, file.isEmpty() ? QString() : path(file));
    QVERIFY(!p.errorText().isEmpty());
    QCOMPARE(p.length(), 0);
    QCOMPARE(p.mode(), std::int32_t(NotOpen));
    p.command(PlayerCommand::Play);
    QTest::qWait(50);
    QCOMPARE(p.mode(), std::int32_t(NotOpen));

    // The next good file opens and clears the error.
    openHeld(p, path("1234ms-8k-mono.wav"));
    QCOMPARE(p.errorText(), QString());
    QCOMPARE(p.length(), 1234);
}

void TestQtAudioPlayer::statusUpdates() {
    QtAudioPlayer p;
    QSignalSpy spy(&p, &AudioPlayer::statusUpdate);
    p.setUpdateInterval(30);
    QCOMPARE(p.updateInterval(), 30);
    // Ticks come, and not faster than every 30 ms (a busy machine only makes them later).
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 6, 10000);
    QVERIFY2(clock.elapsed() >= 5 * 30 * 2 / 3, qPrintable(QString::number(clock.elapsed())));
    p.setUpdateInterval(0);
    spy.clear();
    QTest::qWait(100);
    QCOMPARE(spy.count(), 0);
}

void TestQtAudioPlayer::noOutputPlaysNothing() {
    QtAudioPlayer p;
    openHeld(p, path("800ms.wav"));
    QCOMPARE(p.length(), 800);
    const test::PulseServer::Nowhere nowhere;
    QString why;
    QVERIFY(!p.outputReady(&why));
    QVERIFY(!why.isEmpty());
    p.command(PlayerCommand::Play);
    // Never "playing" into nothing, and never at the end of a file nobody heard.
    QTRY_COMPARE_WITH_TIMEOUT(p.mode(), std::int32_t(Stopped), 5000);
    QVERIFY(!p.playFailure().isEmpty());
    QCOMPARE(p.playedMs(), std::int64_t(-1));
}

void TestQtAudioPlayer::lostServerFailsThePlaying() {
    std::optional<test::PulseServer> own;
    own.emplace();
    QVERIFY2(own->ok(), qPrintable(own->error()));
    QtAudioPlayer p;
    openHeld(p, path("3s.wav"));
    p.command(PlayerCommand::Play);
    QTRY_VERIFY_WITH_TIMEOUT(p.playedMs() >= 200, 3000);
    own.reset(); // the server ends
    QTRY_VERIFY_WITH_TIMEOUT(!p.playFailure().isEmpty(), 3000);
    QCOMPARE(p.mode(), std::int32_t(Stopped));
}

QTEST_MAIN(TestQtAudioPlayer)
#include "tst_qt_audio_player.moc"
