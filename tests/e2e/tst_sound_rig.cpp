// The sound rig checks itself: a private PulseAudio server with a null sink as the default
// output, its monitor captured with monotonic time stamps (tests/support/PulseServer,
// SinkCapture). A click played at a time the server itself names must show up in the capture
// at that time, and where this program's output clock puts it; silence must read as silence;
// Qt Multimedia in this process and GStreamer's pulsesink in a child must both play into the
// private server, and a PULSE_SERVER that leads nowhere must give no output at all.

#include "audio/PulseOutput.h"
#include "support/PulseServer.h"
#include "support/SinkCapture.h"
#include "support/Wav.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <vector>

using tamberlo::test::PulseServer;
using tamberlo::test::PulseServerOptions;
using tamberlo::test::SinkCapture;

namespace {

constexpr int Rate = 48000;

// `silenceMs` of silence, a 5 ms 2 kHz burst at full scale, then `tailMs` of silence.
std::vector<qint16> clickStream(int silenceMs, int tailMs) {
    std::vector<qint16> s(size_t(Rate * silenceMs / 1000), 0);
    for (int i = 0; i < Rate * 5 / 1000; ++i)
        s.push_back(qint16(30000 * std::sin(2 * M_PI * 2000.0 * i / Rate) >= 0 ? 30000 : -30000));
    s.resize(s.size() + size_t(Rate * tailMs / 1000), 0);
    return s;
}

// Plays `samples` through libpulse's simple API with a small buffer; returns the monotonic
// time at which the server says sample `index` came out. The samples up to `writtenEnd` are
// written first; right then the server's latency tells when the last of them comes out, the
// ones before it one sample period apart (the median of three readings). Asked while those
// samples are still in the buffer, so that a later underrun, which delays only what follows,
// cannot move the answer. Then the rest is written and played out.
// `sinkLatencyUs` gets the sink's configured latency while the stream plays.
std::optional<qint64> playAndTime(const std::vector<qint16>& samples, qint64 index,
                                  qint64 writtenEnd, int bufferMs, const PulseServer& server,
                                  qint64* sinkLatencyUs, QString* why) {
    pa_sample_spec spec{PA_SAMPLE_S16LE, Rate, 1};
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(Rate * 2 * bufferMs / 1000);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "tst_sound_rig", PA_STREAM_PLAYBACK, nullptr, "click",
                                 &spec, nullptr, &attr, &error);
    if (!s) {
        *why = QString::fromUtf8(pa_strerror(error));
        return std::nullopt;
    }
    const qint64 afterIndexUs = (writtenEnd - index) * 1000000 / Rate;
    bool ok = pa_simple_write(s, samples.data(), size_t(writtenEnd) * sizeof(qint16), &error) == 0;
    std::vector<qint64> estimates;
    for (int i = 0; ok && i < 3; ++i) {
        const pa_usec_t latency = pa_simple_get_latency(s, &error);
        const qint64 at = SinkCapture::nowUs();
        ok = latency != pa_usec_t(-1);
        estimates.push_back(at + qint64(latency) - afterIndexUs);
    }
    ok = ok && pa_simple_write(s, samples.data() + writtenEnd,
                               (samples.size() - size_t(writtenEnd)) * sizeof(qint16), &error) == 0;
    *sinkLatencyUs = server.sinkLatencyUs();
    ok = ok && pa_simple_drain(s, &error) == 0;
    pa_simple_free(s);
    if (!ok) {
        *why = QString::fromUtf8(pa_strerror(error));
        return std::nullopt;
    }
    std::sort(estimates.begin(), estimates.end());
    return estimates[estimates.size() / 2];
}

// The same through this program's output: the click's time by the output's played clock (the
// median of its readings every 2 ms, from now - played), the earliest reading's, and the
// moment the output told for its last sample.
struct OutputClock {
    qint64 clickUs = 0;
    qint64 earliestClickUs = 0;
    qint64 lastOutUs = 0;
};
std::optional<OutputClock> playThroughOutput(const std::vector<qint16>& samples, qint64 index,
                                             QString* why) {
    auto pcm = std::make_shared<tamberlo::Pcm>();
    pcm->rate = Rate;
    pcm->channels = 1;
    pcm->samples.assign(samples.begin(), samples.end());
    tamberlo::PulseOutput output;
    if (!output.start(pcm, 0, why))
        return std::nullopt;
    std::vector<qint64> clicks;
    OutputClock told;
    // The clock is read on a 2 ms timer until the output says its last sample is out.
    const qint64 giveUp = SinkCapture::nowUs() + 5000000;
    QEventLoop loop;
    QTimer reading;
    reading.setTimerType(Qt::PreciseTimer);
    QObject::connect(&reading, &QTimer::timeout, &loop, [&] {
        const tamberlo::PcmOutput::State s = output.state();
        const qint64 now = SinkCapture::nowUs();
        told.lastOutUs = s.lastFrameOutUs;
        if (!s.failure.isEmpty() || s.finished || now > giveUp) {
            *why = s.failure;
            loop.quit();
        } else if (s.playedFrames > 0 && s.playedFrames < index) { // it stops at the last frame
            clicks.push_back(now + (index - s.playedFrames) * 1000000 / Rate);
        }
    });
    reading.start(2);
    loop.exec();
    if (clicks.size() < 20 || told.lastOutUs == 0) {
        *why +=
            QStringLiteral(" (%1 clock readings, end %2)").arg(clicks.size()).arg(told.lastOutUs);
        return std::nullopt;
    }
    std::sort(clicks.begin(), clicks.end());
    told.clickUs = clicks[clicks.size() / 2];
    told.earliestClickUs = clicks.front();
    return told;
}

} // namespace

class SoundRigTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void clickAtKnownTime_data();
    void clickAtKnownTime();
    void playersReachTheServer_data();
    void playersReachTheServer();
    void nowhereGivesNoOutput();
    void serverLeavesNothingRunning();

private:
    // The default server, made before Qt Multimedia first connects to a sound server: Qt's
    // PulseAudio backend keeps its first connection for the life of the process.
    std::unique_ptr<PulseServer> server_;
};

void SoundRigTest::initTestCase() {
    server_ = std::make_unique<PulseServer>();
    QVERIFY2(server_->ok(), qPrintable(server_->error()));
}

// Tolerances: the sink hands the monitor each block as it starts to come out, so with the
// reader's late wake-ups taken out by the anchoring a captured sample's time is good to well
// under a millisecond. The other side of the comparison is the server's latency report to the
// player, interpolated between timing updates: on the default sink (1 ms blocks while the
// capture runs) the clicks land within 0.5 ms of it, 3 ms allowed; on the 50 ms-block sink
// within 1.5 ms, 6 ms allowed.
void SoundRigTest::clickAtKnownTime_data() {
    QTest::addColumn<int>("blockMs");
    QTest::addColumn<bool>("noRewinds");
    QTest::addColumn<int>("bufferMs");
    QTest::addColumn<int>("silenceMs");
    QTest::addColumn<int>("toleranceUs");
    // Timed by this program's output instead: its played clock (never ahead of the sound by
    // more than 10 ms in any reading) and its word on the last sample, which the click ends
    // (not before the sound's end, at most a block and a little after it).
    QTest::addColumn<bool>("outputClock");
    QTest::newRow("default sink, 20 ms buffer") << 0 << false << 20 << 300 << 3000 << false;
    QTest::newRow("default sink, 200 ms buffer") << 0 << false << 200 << 500 << 3000 << false;
    // A player's buffer well above the block, so that its own latency request does not take
    // the sink below the 50 ms blocks (a 100 ms buffer takes it to 30 ms).
    QTest::newRow("50 ms blocks, no rewinds") << 50 << true << 200 << 400 << 6000 << false;
    QTest::newRow("50 ms blocks, no rewinds, long lead")
        << 50 << true << 400 << 1000 << 6000 << false;
    QTest::newRow("default sink, the output's clock") << 0 << false << 0 << 600 << 3000 << true;
    QTest::newRow("50 ms blocks, the output's clock") << 50 << true << 0 << 600 << 6000 << true;
}

void SoundRigTest::clickAtKnownTime() {
    QFETCH(int, blockMs);
    QFETCH(bool, noRewinds);
    QFETCH(int, bufferMs);
    QFETCH(int, silenceMs);
    QFETCH(int, toleranceUs);
    QFETCH(bool, outputClock);

    std::unique_ptr<PulseServer> own;
    PulseServer* server = server_.get();
    if (blockMs > 0 || noRewinds) {
        own = std::make_unique<PulseServer>(PulseServerOptions{blockMs, noRewinds});
        QVERIFY2(own->ok(), qPrintable(own->error()));
        server = own.get();
    }
    SinkCapture capture(*server);
    QString why;
    QVERIFY2(capture.start(&why), qPrintable(why));

    const qint64 before = SinkCapture::nowUs();
    const auto stream = clickStream(silenceMs, outputClock ? 0 : 300);
    const qint64 clickIndex = qint64(Rate) * silenceMs / 1000;
    qint64 playedLatencyUs = -1;
    std::optional<OutputClock> told;
    std::optional<qint64> expected;
    if (outputClock) {
        told = playThroughOutput(stream, clickIndex, &why);
        QVERIFY2(told, qPrintable(why));
        expected = told->clickUs;
        playedLatencyUs = server->sinkLatencyUs();
    } else {
        expected = playAndTime(stream, clickIndex, clickIndex + Rate * 5 / 1000, bufferMs, *server,
                               &playedLatencyUs, &why);
    }
    QVERIFY2(expected, qPrintable(why));
    QVERIFY(capture.waitUntilCaptured(*expected + 400000, 10000));
    capture.stop();

    const auto onset = capture.onsetUs(before, *expected + 400000);
    QVERIFY2(onset,
             qPrintable(QStringLiteral("no click in the capture: %1").arg(capture.describe())));
    const qint64 error = *onset - *expected;
    qInfo("click at %+.2f ms from where %s put it; sink latency %lld us", error / 1000.0,
          outputClock ? "the output's clock" : "the server", playedLatencyUs);
    // The sink ran the blocks asked for while the player was on it.
    if (blockMs > 0)
        QVERIFY2(playedLatencyUs >= blockMs * 900,
                 qPrintable(QStringLiteral("sink latency %1 us").arg(playedLatencyUs)));
    QVERIFY2(std::abs(error) <= toleranceUs,
             qPrintable(QStringLiteral("click %1 us off (tolerance %2 us); %3")
                            .arg(error)
                            .arg(toleranceUs)
                            .arg(capture.describe())));
    // The click is 5 ms long and whole; the silence around it reads as silence.
    const auto offset = capture.offsetUs(*onset, *onset + 200000);
    QVERIFY(offset);
    QVERIFY2(std::abs(*offset - *onset - 5000) <= 500,
             qPrintable(QStringLiteral("click lasts %1 us").arg(*offset - *onset)));
    if (told) {
        QVERIFY2(told->earliestClickUs >= *onset - 10000,
                 qPrintable(QStringLiteral("a clock reading put the click %1 ms early")
                                .arg((*onset - told->earliestClickUs) / 1000.0)));
        QVERIFY2(told->lastOutUs >= *offset - 2000 && told->lastOutUs <= *offset + 60000,
                 qPrintable(QStringLiteral("the last sample told %1 ms after the sound's end")
                                .arg((told->lastOutUs - *offset) / 1000.0)));
    }
    QCOMPARE(capture.peak(before, *onset - 1000), 0);
    QCOMPARE(capture.peak(*offset + 1000, *expected + 300000), 0);
    QVERIFY(capture.gaps(*onset, *offset, 1000).isEmpty());
}

void SoundRigTest::playersReachTheServer_data() {
    QTest::addColumn<QString>("player");
    QTest::addColumn<int>("toleranceUs");
    // Qt 6.4's PulseAudio writer leaves out about a millisecond of the end (a last write
    // smaller than the server's request size); pulsesink plays every sample.
    QTest::newRow("Qt Multimedia in this process") << QStringLiteral("qt") << 3000;
    QTest::newRow("GStreamer pulsesink in a child") << QStringLiteral("gst") << 1000;
    // The tone as an MP3 (lame), decoded by gst-launch-1.0 and played by paplay, its quiet
    // stretch filled with a 19 kHz tone above the encoder's lowpass: the source sounds all
    // through, the played file has the gap. The content to expect is the decoded file's, and
    // soundAtSink, the benchmark's reference, gets the same out of the sink.
    QTest::newRow("MP3 decoded, paplay") << QStringLiteral("mp3") << 1000;
}

// 300 ms of a 1 kHz tone with a silent 40 ms stretch from 100 ms on, through each player: the
// capture shows the tone, and the stretch as one gap of its length; its content (sound less
// the gaps) is the played file's as wavSoundingMs reads it.
void SoundRigTest::playersReachTheServer() {
    QFETCH(QString, player);
    QFETCH(int, toleranceUs);
    SinkCapture capture(*server_);
    QString why;
    QVERIFY2(capture.start(&why), qPrintable(why));

    std::vector<qint16> tone(size_t(Rate * 300 / 1000));
    for (size_t i = 0; i < tone.size(); ++i) {
        const bool quiet = i >= size_t(Rate / 10) && i < size_t(Rate * 140 / 1000);
        tone[i] = quiet ? 0 : qint16(12000 * std::sin(2 * M_PI * 1000.0 * double(i) / Rate));
        if (quiet && player == QLatin1String("mp3"))
            tone[i] = qint16(3000 * std::sin(2 * M_PI * 19000.0 * double(i) / Rate));
    }
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    QVERIFY(tamberlo::test::writePcmWav(wav, Rate, 1, 300,
                                        [&](qint64 i, qint64) { return tone[size_t(i)]; }));
    QString played = wav;
    if (player == QLatin1String("mp3")) {
        const QString mp3 = dir.filePath(QStringLiteral("tone.mp3"));
        QProcess lame;
        lame.start(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3});
        QVERIFY(lame.waitForFinished(20000) && lame.exitCode() == 0);
        played = dir.filePath(QStringLiteral("tone-played.wav"));
        QVERIFY2(tamberlo::test::decodeToWav(mp3, played, &why), qPrintable(why));
        // The encoded tone does not sound as the source does: judged by the source, the sink
        // would seem to have got more (or less) than was there.
        QVERIFY2(std::abs(tamberlo::test::wavSoundingMs(played) -
                          tamberlo::test::wavSoundingMs(wav)) > 2.0,
                 qPrintable(QStringLiteral("decoded %1 ms, source %2 ms")
                                .arg(tamberlo::test::wavSoundingMs(played))
                                .arg(tamberlo::test::wavSoundingMs(wav))));
    }
    const qint64 started = SinkCapture::nowUs();
    if (player == QLatin1String("qt")) {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        QCOMPARE(device.id(), server_->sinkName().toUtf8());
        QAudioFormat format;
        format.setSampleRate(Rate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        QAudioSink sink(device, format);
        QBuffer buffer;
        buffer.setData(reinterpret_cast<const char*>(tone.data()),
                       qsizetype(tone.size() * sizeof(qint16)));
        buffer.open(QIODevice::ReadOnly);
        sink.start(&buffer);
        QTRY_VERIFY_WITH_TIMEOUT(
            sink.state() == QAudio::IdleState || sink.error() != QAudio::NoError, 10000);
        QCOMPARE(sink.error(), QAudio::NoError);
        // Idle means Qt has handed everything to the server, not that it has come out: a stop()
        // now would drop what is still in the server's buffer. Stop once it has come out.
        QVERIFY(capture.waitUntilCaptured(SinkCapture::nowUs() + 500000, 10000));
        sink.stop();
    } else if (player == QLatin1String("mp3")) {
        QProcess paplay;
        paplay.start(QStringLiteral("paplay"), {played});
        QVERIFY(paplay.waitForFinished(20000));
        QVERIFY2(paplay.exitCode() == 0, paplay.readAllStandardError().constData());
    } else {
        QFile raw(dir.filePath(QStringLiteral("tone.raw")));
        QVERIFY(raw.open(QIODevice::WriteOnly));
        raw.write(reinterpret_cast<const char*>(tone.data()), qint64(tone.size() * 2));
        raw.close();
        QProcess gst;
        gst.start(QStringLiteral("gst-launch-1.0"),
                  {QStringLiteral("-q"), QStringLiteral("filesrc"),
                   QStringLiteral("location=") + raw.fileName(), QStringLiteral("!"),
                   QStringLiteral("rawaudioparse"), QStringLiteral("format=pcm"),
                   QStringLiteral("pcm-format=s16le"), QStringLiteral("sample-rate=48000"),
                   QStringLiteral("num-channels=1"), QStringLiteral("!"),
                   QStringLiteral("audioconvert"), QStringLiteral("!"),
                   QStringLiteral("pulsesink")});
        QVERIFY(gst.waitForFinished(20000));
        QVERIFY2(gst.exitCode() == 0, gst.readAllStandardError().constData());
    }
    const qint64 ended = SinkCapture::nowUs();
    QVERIFY(capture.waitUntilCaptured(ended + 300000, 10000));
    capture.stop();

    const auto onset = capture.onsetUs(started, ended + 300000);
    QVERIFY2(onset, qPrintable(capture.describe()));
    const auto offset = capture.offsetUs(*onset, ended + 300000);
    QVERIFY(offset);
    const double contentMs = capture.soundingMs(started, ended + 300000);
    const double fileMs = tamberlo::test::wavSoundingMs(played);
    QVERIFY2(
        std::abs(contentMs - fileMs) <= toleranceUs / 1000.0,
        qPrintable(
            QStringLiteral("%1 ms came out, the file holds %2 ms").arg(contentMs).arg(fileMs)));
    if (player == QLatin1String("mp3")) {
        const auto reference = tamberlo::test::soundAtSink(*server_, played, &why);
        QVERIFY2(reference, qPrintable(why));
        QVERIFY2(std::abs(reference->contentMs - contentMs) <= toleranceUs / 1000.0,
                 qPrintable(QStringLiteral("reference %1 ms, played %2 ms")
                                .arg(reference->contentMs)
                                .arg(contentMs)));
        return;
    }
    // The whole tone came out: 300 ms from the first sound to the last.
    QVERIFY2(std::abs(*offset - *onset - 300000) <= toleranceUs,
             qPrintable(QStringLiteral("tone lasted %1 us").arg(*offset - *onset)));
    const auto gaps = capture.gaps(*onset, *offset, 5000);
    QCOMPARE(gaps.size(), 1);
    QVERIFY2(std::abs(gaps.front().fromUs - *onset - 100000) <= 1000 &&
                 std::abs(gaps.front().lengthUs() - 40000) <= 1000,
             qPrintable(QStringLiteral("gap at %1 us for %2 us")
                            .arg(gaps.front().fromUs - *onset)
                            .arg(gaps.front().lengthUs())));
}

// With PULSE_SERVER at a socket nobody listens on a player has no output at all: paplay fails
// rather than finding some other server.
void SoundRigTest::nowhereGivesNoOutput() {
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("t.wav"));
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("8000"), wav,
               QStringLiteral("synth"), QStringLiteral("0.1"), QStringLiteral("sine"),
               QStringLiteral("440")});
    QVERIFY(sox.waitForFinished(20000) && sox.exitCode() == 0);
    const auto play = [&] {
        QProcess p;
        p.start(QStringLiteral("paplay"), {wav});
        return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                                                  : -1;
    };
    {
        PulseServer::Nowhere nowhere;
        QVERIFY(qgetenv("PULSE_SERVER") != server_->address().toUtf8());
        QVERIFY(play() > 0);
    }
    QCOMPARE(qgetenv("PULSE_SERVER"), server_->address().toUtf8());
    QCOMPARE(play(), 0);
}

// A server of its own comes and goes: its process runs while it lives and ends with it, it
// loads the sink as asked, and the environment is as before afterwards.
void SoundRigTest::serverLeavesNothingRunning() {
    const auto isPulseaudio = [](qint64 pid) {
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("pulseaudio");
    };
    const QByteArray before = qgetenv("PULSE_SERVER");
    qint64 pid = 0;
    {
        PulseServer server(PulseServerOptions{50, true});
        QVERIFY2(server.ok(), qPrintable(server.error()));
        pid = server.pid();
        QVERIFY(isPulseaudio(pid));
        QCOMPARE(qgetenv("PULSE_SERVER"), server.address().toUtf8());
        QVERIFY(server.pactl({QStringLiteral("list"), QStringLiteral("modules")})
                    .contains(QStringLiteral("norewinds=1")));
    }
    QCOMPARE(qgetenv("PULSE_SERVER"), before);
    QVERIFY(!isPulseaudio(pid));
}

QTEST_GUILESS_MAIN(SoundRigTest)
#include "tst_sound_rig.moc"
