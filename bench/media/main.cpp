// bench_media: decoding time of each kind of file (5 s and 30 s), then ten playings of a
// sharp-edged prompt on a private sound server recorded from the sink's monitor: the delay
// from start to the first sound, the sound's length against the file's, the longest gap, and
// the played clock's error against the monitor.
#include "audio/PcmDecoder.h"
#include "plan/QtRecordingAudio.h"
#include "support/AudioFiles.h"
#include "support/PulseServer.h"
#include "support/SinkCapture.h"
#include "support/Wav.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>

using namespace tamberlo;
using test::AudioKind;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void decoding(const QTemporaryDir& dir) {
    const struct {
        const char* name;
        AudioKind kind;
        const char* suffix;
    } kinds[] = {
        {"IMA ADPCM WAV", AudioKind::ImaAdpcmWav, ".wav"},
        {"GSM 6.10 WAV", AudioKind::Gsm610Wav, ".wav"},
        {"u-law WAV", AudioKind::MuLawWav, ".wav"},
        {"24-bit WAV", AudioKind::Pcm24Wav, ".wav"},
        {"MP3 VBR Xing", AudioKind::Mp3VbrXing, ".mp3"},
        {"MP3 VBR bare", AudioKind::Mp3Vbr, ".mp3"},
        {"Ogg Vorbis", AudioKind::OggVorbis, ".ogg"},
        {"FLAC", AudioKind::Flac, ".flac"},
        {"AAC M4A", AudioKind::AacM4a, ".m4a"},
    };
    std::printf("decoding a whole file (median of 5), 44.1 kHz stereo source\n");
    std::printf("%-16s %10s %10s %10s\n", "kind", "5 s", "30 s", "decoder");
    for (const auto& k : kinds) {
        std::printf("%-16s", k.name);
        const char* decoder = "";
        for (int seconds : {5, 30}) {
            const QString base =
                dir.filePath(QStringLiteral("%1-%2").arg(int(k.kind)).arg(seconds));
            const QString source = base + QStringLiteral("-source.wav");
            const QString file = base + QString::fromLatin1(k.suffix);
            if (!test::writeVariedWav(source, 44100, 2, seconds * 1000) ||
                !test::makeAudioFile(k.kind, source, file).ok()) {
                std::printf(" %10s", "(no tool)");
                continue;
            }
            std::vector<double> times;
            for (int i = 0; i < 5; ++i) {
                QElapsedTimer t;
                t.start();
                const DecodeResult r = decodeAudioFile(file);
                times.push_back(double(t.nsecsElapsed()) / 1e6);
                decoder = r.decoder == PcmDecoderKind::Sndfile ? "libsndfile" : "GStreamer";
                if (!r.pcm)
                    decoder = "FAILED";
            }
            std::printf(" %8.1fms", median(times));
        }
        std::printf(" %10s\n", decoder);
    }
}

void playing(const QTemporaryDir& dir) {
    using test::SinkCapture;
    test::PulseServer server;
    if (!server.ok()) {
        std::printf("\nno private sound server: %s\n", qPrintable(server.error()));
        return;
    }
    const QString file = dir.filePath(QStringLiteral("prompt.wav"));
    test::writeWav(file, 22050, 1, 2345);
    std::printf("\nplaying a 2345 ms prompt ten times, recorded from the null sink's monitor\n");
    std::printf("%4s %12s %10s %10s %12s %12s %s\n", "run", "first sound", "came out", "gap",
                "clock worst", "clock median", "failure");
    plan::QtRecordingAudio audio;
    QString why;
    if (!audio.load(file, &why)) {
        std::printf("cannot load: %s\n", qPrintable(why));
        return;
    }
    for (int run = 1; run <= 10; ++run) {
        SinkCapture capture(server);
        if (!capture.start(&why)) {
            std::printf("no capture: %s\n", qPrintable(why));
            return;
        }
        std::vector<std::pair<qint64, std::int64_t>> reads;
        const qint64 startUs = SinkCapture::nowUs();
        audio.start();
        QElapsedTimer t;
        t.start();
        while (!audio.finished() && audio.failure().isEmpty() && t.elapsed() < 10000) {
            reads.emplace_back(SinkCapture::nowUs(), audio.playedMs());
            QTest::qWait(3);
        }
        const qint64 endUs = SinkCapture::nowUs();
        capture.waitUntilCaptured(endUs + 100000, 3000);
        capture.stop();
        const QString failure = audio.failure();
        audio.stop();
        const auto onset = capture.onsetUs(startUs - 100000, endUs + 100000);
        const auto offset = capture.offsetUs(startUs - 100000, endUs + 100000);
        if (!onset || !offset) {
            std::printf("%4d   nothing came out %s\n", run, qPrintable(failure));
            continue;
        }
        const auto quiet = capture.gaps(*onset, *offset, 1000);
        qint64 gapUs = 0;
        for (const auto& g : quiet)
            gapUs = std::max(gapUs, g.lengthUs());
        std::vector<double> errors;
        for (const auto& [at, played] : reads)
            if (played > 0 && played < audio.lengthMs())
                errors.push_back(std::abs(double(at - *onset) / 1000 - double(played)));
        std::printf("%4d %10.1fms %8.1fms %8.1fms %10.1fms %10.1fms %s\n", run,
                    double(*onset - startUs) / 1000, double(*offset - *onset) / 1000,
                    double(gapUs) / 1000,
                    errors.empty() ? 0 : *std::max_element(errors.begin(), errors.end()),
                    median(errors), qPrintable(failure));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    decoding(dir);
    playing(dir);
    return 0;
}
