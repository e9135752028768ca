// The output's own word against the sound that came out of a private server's null sink, its
// monitor captured with a monotonic time for every sample. While a tone plays, now - played
// must give the moment the tone's first sample came out, and no reading may put that moment
// before it (a clock ahead of the sound stops the panel's recording early, cutting the end).
// The moment the output tells for its last sample must not come before the sound's end (STOP
// leaves then). On the default sink and on one that plays 50 ms blocks without rewinds.
#include "audio/PulseOutput.h"
#include "support/PulseServer.h"
#include "support/SinkCapture.h"

#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

using namespace tamberlo;
using tamberlo::test::PulseServer;
using tamberlo::test::PulseServerOptions;
using tamberlo::test::SinkCapture;

Q_DECLARE_METATYPE(tamberlo::test::PulseServerOptions)

namespace {

std::shared_ptr<const Pcm> tone(int rate, int ms) {
    auto pcm = std::make_shared<Pcm>();
    pcm->rate = rate;
    pcm->channels = 1;
    const int frames = rate * ms / 1000;
    for (int i = 0; i < frames; ++i)
        pcm->samples.push_back(
            static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 700.0 * i / rate)));
    return pcm;
}

} // namespace

class TestOutputClock : public QObject {
    Q_OBJECT
private slots:
    void clockFollowsTheSound_data();
    void clockFollowsTheSound();
};

void TestOutputClock::clockFollowsTheSound_data() {
    QTest::addColumn<PulseServerOptions>("sink");
    QTest::newRow("default sink") << PulseServerOptions{0, false};
    QTest::newRow("50 ms blocks, no rewinds") << PulseServerOptions{50, true};
}

void TestOutputClock::clockFollowsTheSound() {
    QFETCH(PulseServerOptions, sink);
    PulseServer server(sink);
    QVERIFY2(server.ok(), qPrintable(server.error()));
    SinkCapture capture(server);
    QString why;
    QVERIFY2(capture.start(&why), qPrintable(why));
    const auto pcm = tone(22050, 600);
    PulseOutput output;
    for (int play = 0; play < 3; ++play) {
        const qint64 before = SinkCapture::nowUs();
        QVERIFY2(output.start(pcm, 0, &why), qPrintable(why));
        std::vector<qint64> anchors;
        qint64 lastOut = 0;
        const qint64 giveUp = before + 3000000;
        for (;;) {
            const PcmOutput::State s = output.state();
            const qint64 now = SinkCapture::nowUs();
            QVERIFY2(s.failure.isEmpty(), qPrintable(s.failure));
            lastOut = s.lastFrameOutUs;
            if (s.finished || now > giveUp)
                break;
            // Away from both ends: the clock stops at the last frame.
            if (s.playedFrames > 0 && s.playedFrames < pcm->frames() - pcm->framesAt(20))
                anchors.push_back(now - s.playedFrames * 1000000 / pcm->rate);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const qint64 after = SinkCapture::nowUs();
        output.stop();
        QVERIFY(capture.waitUntilCaptured(after, 3000));
        const auto onset = capture.onsetUs(before, after);
        QVERIFY2(onset, qPrintable(capture.describe()));
        const auto offset = capture.offsetUs(*onset, after);
        QVERIFY(offset);
        QVERIFY2(anchors.size() > 50, qPrintable(QString::number(anchors.size())));
        std::sort(anchors.begin(), anchors.end());
        const double medianMs = (anchors[anchors.size() / 2] - *onset) / 1000.0;
        const double earliestMs = (anchors.front() - *onset) / 1000.0;
        const double endMs = (lastOut - *offset) / 1000.0;
        const QByteArray what = QStringLiteral("play %1: first sample by the clock %2 ms (median), "
                                               "%3 ms (earliest) after the sound's; last sample "
                                               "told %4 ms after the sound's end")
                                    .arg(play + 1)
                                    .arg(medianMs)
                                    .arg(earliestMs)
                                    .arg(endMs)
                                    .toUtf8();
        QVERIFY2(std::abs(medianMs) <= 6.0, what.constData());
        QVERIFY2(earliestMs >= -10.0, what.constData());
        QVERIFY2(lastOut > 0 && endMs >= -2.0 && endMs <= 60.0, what.constData());
    }
}

QTEST_GUILESS_MAIN(TestOutputClock)
#include "tst_output_clock.moc"
