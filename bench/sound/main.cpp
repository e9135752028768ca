// bench_sound: what the chip records is the sound that came out of the PC's output. Measured
// at a private PulseAudio server whose default output is a null sink, its monitor captured
// with a monotonic time for every sample beside the bridge simulator's byte log (same clock).
//
// For each condition (the default null sink or one with 50 ms blocks and no rewinds; idle or
// with a two-job compile of one of this project's files running beside it, started and
// stopped here), in a process of its own:
//   - tamberlo-cli program of N prompts (tones, square waves and noise with sharp edges, and
//     speech from espeak-ng; WAV at 8, 16, 22.05, 44.1 and 48 kHz and MP3) into the simulated
//     chip. Per message: the prompt content lost (sound before the SET_REC frame's last byte,
//     after the STOP byte, or never out at all; goal at most 5 ms for 99 % of messages idle,
//     95 % beside the compile), the STOP byte after the last sample came out (goal 0..+60 ms
//     at p95, never negative), and the sound's onset after the SET_REC frame's last byte;
//   - the panel's REC with a file (the audio source, the real player and the serial adapter
//     wired as the window wires them, as in bench_autostop; the STOP byte stamped at the far
//     end of a pseudo-terminal): the end of the file that came out after the STOP byte, which
//     the chip did not hear (goal 50 +- 30 ms). The end is where the capture's stamps put
//     the last sound, or where its samples end when played on from the first sound if that is
//     later (stamps can squeeze a file's sound into less time than it takes); the stamps'
//     figure alone is printed beside it.
// STOP, and the SET_REC frame's last byte, reach the chip at their stamp at the far end of the
// wire, or at their write plus one byte's time at 9600 baud when that is earlier
// (chipHasByteUs): the simulator, the capture and the panel's far end read at a real-time
// priority where allowed (as root), yet a busy machine still holds a byte on its way through a
// pseudo-terminal and the simulator now and then (SET_REC's last byte has been seen there 26 ms
// after its write); a serial adapter's driver sends it from the write itself, and the tool only
// calls a frame sent once the system's output queue is empty. The content lost judged
// by the far end's stamps alone is printed beside. The tools under test run at normal
// priority. Each message that lost more than 5 ms is listed with its parts.
//
//   bench_sound [--quick] [--messages N] [--panel-runs K] [--conditions LIST] [--dump DIR]
//
// --quick: 8 messages and 2 panel runs per condition (a check that it measures); the full run
// (default) has 30 messages and 12 panel runs per condition, 120 messages in all. LIST is a
// comma-separated subset of default-idle, default-compile, blocks-idle, blocks-compile. DIR:
// each message's capture (pN-capture.wav, 48 kHz mono, from the boundary before it to the
// one after), the file its content is judged by (pN-played.wav) and the simulator's byte log
// (simulator.log) are written there.
#include "e2e/SoundRig.h"
#include "shared/RecordingPanel.h"
#include "support/PulseServer.h"
#include "support/RealTime.h"
#include "support/SinkCapture.h"
#include "support/Wav.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tamberlo;
using namespace tamberlo::e2e;
using tamberlo::bench::RecordingPanel;
using tamberlo::bench::WireWatch;
using tamberlo::test::PulseServer;
using tamberlo::test::PulseServerOptions;
using tamberlo::test::SinkCapture;

namespace {

struct Condition {
    QString name;
    int blockMs = 0;
    bool compile = false;
    QString label;
};

const QList<Condition>& conditions() {
    static const QList<Condition> all = {
        {QStringLiteral("default-idle"), 0, false, QStringLiteral("default null sink, idle")},
        {QStringLiteral("default-compile"), 0, true,
         QStringLiteral("default null sink, two-job compile beside")},
        {QStringLiteral("blocks-idle"), 50, false,
         QStringLiteral("50 ms blocks, no rewinds, idle")},
        {QStringLiteral("blocks-compile"), 50, true,
         QStringLiteral("50 ms blocks, no rewinds, two-job compile beside")},
    };
    return all;
}

// What comparing the capture's clock with the byte log's can be off by (tst_sound_rig): a STOP
// up to this much before the last sample still counts as after it.
constexpr double RigErrorMs = 2.0;

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const double rank = p * double(v.size() - 1);
    const auto lo = size_t(std::floor(rank));
    const auto hi = size_t(std::ceil(rank));
    return v[lo] + (v[hi] - v[lo]) * (rank - double(lo));
}

const QStringList Sentences = {
    QStringLiteral("Door open."),
    QStringLiteral("Low battery, please charge."),
    QStringLiteral("Welcome. Press the green button to start."),
    QStringLiteral("Alarm."),
    QStringLiteral("Temperature is twenty one degrees."),
};

// Prompt i of a set: kinds, rates and formats in turn; 0.3 to 1.2 s for tones and noise.
PromptRecipe promptRecipe(int i) {
    static const int rates[] = {8000, 16000, 22050, 44100, 48000};
    using K = PromptRecipe::Kind;
    static const K kinds[] = {K::Tone, K::Noise, K::Speech, K::Square};
    PromptRecipe s;
    s.kind = kinds[(i / 5 + i) % 4];
    s.rate = rates[i % 5];
    s.channels = i % 3 == 1 ? 2 : 1;
    s.ms = 300 + (i * 370) % 900;
    s.mp3 = i % 6 == 5;
    s.frequency = 400 + (i * 130) % 1200;
    s.text = Sentences[(i / 4) % Sentences.size()];
    return s;
}

QString formatName(const PromptRecipe& s) {
    return QStringLiteral("%1 %2k%3")
        .arg(QLatin1String(kindName(s.kind)))
        .arg(s.rate / 1000.0, 0, 'g', 3)
        .arg(s.mp3 ? QStringLiteral(" mp3") : QString());
}

// ---- one condition, in a process of its own ------------------------------------------

void waitMs(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// When the chip has a byte: its stamp at the far end of the wire, or its write plus one byte's
// time on a 9600 baud line when that is earlier. A busy machine can hold a byte on its way
// through a pseudo-terminal to the reading process, by 15 ms and more, which it does not to a
// chip on a serial line: a late stamp would hide content cut by STOP and count sound as played
// before SET_REC.
qint64 chipHasByteUs(qint64 farEndUs, qint64 writtenUs) {
    constexpr qint64 ByteOnTheWireUs = 10 * 1000000 / 9600;
    if (writtenUs <= 0)
        return farEndUs;
    return farEndUs > 0 ? std::min(farEndUs, writtenUs + ByteOnTheWireUs)
                        : writtenUs + ByteOnTheWireUs;
}

// Prints one line per message ("MSG <lost> <stop after end> <onset> <gap> <told> <woke> <wire>
// <before SET_REC> <after STOP> <never out> <SET_REC wire> <lost by the far end's stamps>
// <format>", where told, woke and
// wire split the STOP's lateness: the output's word of when the last sample came out against
// the last sound heard, STOP handed over against that word, and the byte at the simulator
// against its write; the next three are the parts of the content lost, and the last the SET_REC
// frame's last byte at the simulator against its write) and per
// panel run ("PANEL <not heard> <onset after REC> <sound span> <file length> <not heard by
// the capture's stamps> <STOP's hand-over to its write> <the write to the byte at the far end>
// <format>"); 0 when all ran.
int runCondition(const Condition& c, int messages, int panelRuns, const QString& dumpDir,
                 QApplication& app) {
    Q_UNUSED(app);
    RuntimeDir runtime;
    QTemporaryDir files;
    PulseServer server(PulseServerOptions{c.blockMs, c.blockMs > 0});
    if (!server.ok()) {
        std::fprintf(stderr, "sound server: %s\n", qPrintable(server.error()));
        return 1;
    }
    std::vector<PromptRecipe> recipes;
    QStringList programArgs{QStringLiteral("--timeout"), QStringLiteral("5000"),
                            QStringLiteral("--port"),    QStringLiteral("81"),
                            QStringLiteral("--json"),    QStringLiteral("program")};
    std::vector<double> content;
    for (int i = 0; i < messages; ++i) {
        recipes.push_back(promptRecipe(i));
        QString why;
        const QString base = files.filePath(QStringLiteral("p%1").arg(i));
        const QString file = makePrompt(recipes.back(), base, &why);
        if (file.isEmpty()) {
            std::fprintf(stderr, "prompt %d: %s\n", i + 1, qPrintable(why));
            return 1;
        }
        const QString played = playedWav(file, base, &why);
        if (played.isEmpty()) {
            std::fprintf(stderr, "prompt %d: %s\n", i + 1, qPrintable(why));
            return 1;
        }
        // The content the chip can get: the played file as an independent player gets it out
        // of this sink (the same resampling and rounding the tool's stream gets).
        // A reference that lost sound itself would hide the tool's loss: when it holds more
        // than 5 ms less than the file (the resampling moves a few ms at most) it is played
        // again and the larger kept; what happened is said, not hidden.
        const double fileMs = test::wavSoundingMs(played);
        auto atSink = test::soundAtSink(server, played, &why);
        for (int again = 0; again < 2 && atSink && atSink->contentMs < fileMs - 5.0; ++again) {
            const auto retry = test::soundAtSink(server, played, &why);
            std::fprintf(stderr,
                         "prompt %d: the reference had %.1f ms, the file %.1f ms; "
                         "again: %.1f ms\n",
                         i + 1, atSink->contentMs, fileMs, retry ? retry->contentMs : NAN);
            if (retry && retry->contentMs > atSink->contentMs)
                atSink = retry;
        }
        if (!atSink) {
            std::fprintf(stderr, "prompt %d: %s\n", i + 1, qPrintable(why));
            return 1;
        }
        programArgs << file;
        content.push_back(atSink->contentMs);
        std::printf("REF %.2f %.2f %.2f %s\n", test::wavSoundingMs(base + QStringLiteral(".wav")),
                    test::wavSoundingMs(played), atSink->contentMs,
                    qPrintable(formatName(recipes.back())));
        if (!dumpDir.isEmpty())
            QFile::copy(played, QStringLiteral("%1/p%2-played.wav").arg(dumpDir).arg(i));
    }

    // tamberlo-cli program, all messages in one run.
    Simulator sim(runtime);
    QString why;
    if (!sim.start(81, {QStringLiteral("--model"), QStringLiteral("ISD17240")}, &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    // The simulator is the chip: its reads are stamped at a real-time priority where allowed.
    if (!test::stampAtRealTimePriority(pid_t(sim.process().processId())))
        std::fprintf(stderr, "the simulator runs at normal priority: its stamps may be late\n");
    {
        SinkCapture capture(server);
        if (!capture.start(&why)) {
            std::fprintf(stderr, "capture: %s\n", qPrintable(why));
            return 1;
        }
        const qint64 started = SinkCapture::nowUs();
        // The sink's block size while the tool plays: what the players asked for may be less
        // than the blocks the condition asks for.
        std::atomic<bool> running{true};
        std::vector<qint64> latencies;
        std::thread watch([&] {
            while (running) {
                const qint64 us = server.sinkLatencyUs();
                if (us > 0)
                    latencies.push_back(us);
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
        });
        const ProgramRun cli =
            runProgram(QStringLiteral(TAMBERLO_CLI), programArgs, runtime.environment(), 900000);
        running = false;
        watch.join();
        if (!latencies.empty())
            std::printf(
                "SINK %lld %lld\n",
                static_cast<long long>(*std::min_element(latencies.begin(), latencies.end())),
                static_cast<long long>(*std::max_element(latencies.begin(), latencies.end())));
        if (cli.exitCode != 0)
            std::fprintf(stderr, "tamberlo-cli program exited %d: %s\n", cli.exitCode,
                         qPrintable(cli.err.right(2000)));
        const qint64 ended = SinkCapture::nowUs();
        capture.waitUntilCaptured(ended + 500000, 10000);
        capture.stop();
        const QList<RecordedMessage> rec = recordedMessages(sim);
        const QJsonArray told =
            QJsonDocument::fromJson(cli.out.toUtf8()).object().value("messages").toArray();
        for (qsizetype i = 0; i < rec.size() && i < qsizetype(recipes.size()); ++i) {
            if (rec[i].stopUs == 0)
                continue;
            const QJsonObject t = told.at(i).toObject();
            const auto us = [&t](const char* key) { return t.value(key).toDouble(); };
            const qint64 stopUs = chipHasByteUs(rec[i].stopUs, qint64(us("stop_sent_us")));
            const qint64 recUs = chipHasByteUs(rec[i].setRecEndUs, qint64(us("frame_sent_us")));
            const qint64 from =
                i == 0 ? started
                       : test::promptBoundaryUs(capture, rec[i - 1].stopUs, rec[i].setRecEndUs);
            const qint64 to = i + 1 < rec.size() ? test::promptBoundaryUs(capture, rec[i].stopUs,
                                                                          rec[i + 1].setRecEndUs)
                                                 : ended + 500000;
            const test::PromptSound s =
                test::measurePrompt(capture, from, to, recUs, stopUs, content[size_t(i)]);
            const double lostByFarEnd = test::measurePrompt(capture, from, to, rec[i].setRecEndUs,
                                                            rec[i].stopUs, content[size_t(i)])
                                            .lostMs;
            if (!dumpDir.isEmpty()) {
                const std::vector<qint16> pcm = capture.samples(from, to);
                QFile out(QStringLiteral("%1/p%2-capture.wav").arg(dumpDir).arg(i));
                const auto bytes = quint32(pcm.size() * 2);
                if (out.open(QIODevice::WriteOnly)) {
                    out.write(test::wavHeader(SinkCapture::Rate, 1, bytes));
                    out.write(reinterpret_cast<const char*>(pcm.data()), qint64(bytes));
                }
                std::fprintf(stderr,
                             "DUMP p%lld: content %.2f ms, out %.2f..%.2f ms after the dump's "
                             "start, %.2f ms quiet, cut %.2f ms\n",
                             static_cast<long long>(i), content[size_t(i)],
                             (s.onsetUs - capture.usOf(capture.sampleAt(from))) / 1000.0,
                             (s.offsetUs - capture.usOf(capture.sampleAt(from))) / 1000.0,
                             s.quietMs, s.cutMs);
            }
            const double lastSoundUs = double(stopUs) - s.stopAfterEndMs * 1000;
            std::printf(
                "MSG %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f %s\n", s.lostMs,
                s.heard ? s.stopAfterEndMs : NAN, s.heard ? s.onsetAfterRecMs : NAN, s.longestGapMs,
                s.heard && us("audio_end_us") > 0 ? (us("audio_end_us") - lastSoundUs) / 1000 : NAN,
                us("stop_handed_us") > 0 ? (us("stop_handed_us") - us("audio_end_us")) / 1000 : NAN,
                us("stop_sent_us") > 0 ? (double(rec[i].stopUs) - us("stop_sent_us")) / 1000 : NAN,
                s.heard ? std::max(0.0, -s.onsetAfterRecMs) : 0.0,
                s.heard ? std::max(0.0, -s.stopAfterEndMs) : 0.0, s.cutMs,
                us("frame_sent_us") > 0 ? (double(rec[i].setRecEndUs) - us("frame_sent_us")) / 1000
                                        : NAN,
                lostByFarEnd, qPrintable(formatName(recipes[size_t(i)])));
        }
        std::fflush(stdout);
    }
    sim.stop();
    if (!dumpDir.isEmpty())
        QFile::copy(sim.logPath(), dumpDir + QStringLiteral("/simulator.log"));

    // The panel's REC with a file: the record button, the automatic STOP.
    if (panelRuns <= 0)
        return 0;
    {
        WireWatch wire(runtime.path(), 7);
        if (!wire.isValid())
            return 1;
        RecordingPanel panel;
        AudioSource& source = panel.source;
        if (!panel.open(7, &why)) {
            std::fprintf(stderr, "cannot open the pseudo-terminal: %s\n", qPrintable(why));
            return 1;
        }
        using K = PromptRecipe::Kind;
        const PromptRecipe panelRecipes[] = {{K::Tone, 22050, 1, 2000, false, 700, {}},
                                             {K::Noise, 44100, 2, 1500, false, 0, {}},
                                             {K::Tone, 48000, 1, 1800, true, 900, {}}};
        for (int r = 0; r < panelRuns; ++r) {
            const PromptRecipe& recipe = panelRecipes[r % 3];
            const QString base = files.filePath(QStringLiteral("panel%1").arg(r));
            const QString file = makePrompt(recipe, base, &why);
            if (file.isEmpty()) {
                std::fprintf(stderr, "panel file: %s\n", qPrintable(why));
                return 1;
            }
            if (panel.openFile(file) <= 0) {
                std::fprintf(stderr, "%s did not open\n", qPrintable(file));
                return 1;
            }
            SinkCapture capture(server);
            if (!capture.start(&why)) {
                std::fprintf(stderr, "capture: %s\n", qPrintable(why));
                return 1;
            }
            const qint64 before = SinkCapture::nowUs();
            panel.record();
            QEventLoop loop;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (panel.stopHandedUs)
                    loop.quit();
            });
            poll.start(10);
            QTimer::singleShot(source.MusicLenMs() + 10000, &loop, &QEventLoop::quit);
            loop.exec();
            // Whatever still comes out after the STOP.
            waitMs(600);
            panel.finish();
            capture.waitUntilCaptured(SinkCapture::nowUs(), 5000);
            capture.stop();
            const qint64 recAt = wire.find(0x41, before);
            const qint64 farEndStop = wire.find(0x02, recAt);
            const qint64 stopAt = chipHasByteUs(farEndStop, panel.serialPort.stopWrittenUs);
            const auto onset = capture.onsetUs(before, SinkCapture::nowUs());
            const auto offset =
                onset ? capture.offsetUs(*onset, SinkCapture::nowUs()) : std::nullopt;
            if (!recAt || !stopAt || !offset) {
                std::fprintf(stderr, "panel run %d: REC %lld, STOP %lld, sound %s\n", r + 1,
                             static_cast<long long>(recAt), static_cast<long long>(stopAt),
                             offset ? "yes" : "none");
                continue;
            }
            // The file's end: where the capture's stamps put its last sound, but never before
            // its samples could have played from the first sound on. On a block sink the
            // stamps follow the monitor's bursts, which can squeeze a file's sound into less
            // time than its samples take (1,500 ms of samples within 1,467 ms of stamps);
            // a sink that stalls and skips ahead really puts the end later, and the stamps
            // show that.
            const qint64 endUs =
                std::max(*offset, *onset + (capture.sampleAt(*offset) - capture.sampleAt(*onset)) *
                                               1000000 / SinkCapture::Rate);
            std::printf("PANEL %.2f %.2f %.2f %d %.2f %.2f %.2f %s\n", (endUs - stopAt) / 1000.0,
                        (*onset - recAt) / 1000.0, (endUs - *onset) / 1000.0, source.MusicLenMs(),
                        (*offset - stopAt) / 1000.0,
                        (panel.serialPort.stopWrittenUs - panel.stopHandedUs) / 1000.0,
                        (farEndStop - panel.serialPort.stopWrittenUs) / 1000.0,
                        qPrintable(formatName(recipe)));
            std::fflush(stdout);
            waitMs(300);
        }
        panel.close();
    }
    return 0;
}

// ---- the driver ----------------------------------------------------------------------

// Two shell loops compiling one of this project's files with c++ -O2, each in a process group
// of its own so that stopping it ends the compiler too.
class CompileLoad {
public:
    void start() {
        const QString src = QStringLiteral(TAMBERLO_SOURCE_DIR);
        const QString command =
            QStringLiteral("while :; do c++ -O2 -std=c++20 -I%1/tools/bridge-sim -c "
                           "%1/tools/bridge-sim/Bridge.cpp -o /dev/null; done")
                .arg(src);
        for (auto& p : jobs_) {
            p = std::make_unique<QProcess>();
            p->setChildProcessModifier([] { ::setpgid(0, 0); });
            p->start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
            p->waitForStarted();
        }
    }
    void stop() {
        for (auto& p : jobs_) {
            if (!p)
                continue;
            const auto pid = static_cast<pid_t>(p->processId());
            if (pid > 0)
                ::kill(-pid, SIGTERM);
            if (!p->waitForFinished(5000)) {
                ::kill(-pid, SIGKILL);
                p->waitForFinished(5000);
            }
            p.reset();
        }
    }
    ~CompileLoad() { stop(); }

private:
    std::unique_ptr<QProcess> jobs_[2];
};

struct Figures {
    std::vector<double> lost, stopAfter, onset, notHeard, panelOnset;
    // STOP's lateness in parts: the output's word against the last sound, STOP handed over
    // against the word, the byte at the far end against its write.
    std::vector<double> stopParts[3];
    std::vector<double> recWire; // the SET_REC frame's last byte at the far end after its write
    std::vector<double> lostByFarEnd; // the content lost by the far end's stamps alone
    QStringList losses;               // each message that lost more than 5 ms, in parts
    std::vector<double> panelOut;     // the file's sound from first to last against its length
    // The panel's unheard end by the capture's stamps of the last sound, for comparison.
    std::vector<double> notHeardByStamps;
    // From the panel handing STOP over to its byte's write, and from the write to the far end
    // of the wire (where this benchmark's reading thread stamps it).
    std::vector<double> panelHandedToWrite, panelWriteToFarEnd;
    qint64 sinkMinUs = -1, sinkMaxUs = -1; // the sink's latency while the tool played
    std::map<QString, std::vector<double>> lostByFormat;
    // Per format: the content of the source WAV, of the played file, and at the sink.
    std::map<QString, std::vector<double>> sourceMs, playedMs, sinkMs;
};

void printCondition(const Condition& c, const Figures& f, int messages) {
    const double goalShare = c.compile ? 95.0 : 99.0;
    const auto shareWithin5 = [](const std::vector<double>& lost) {
        const auto n = std::count_if(lost.begin(), lost.end(), [](double v) { return v <= 5.0; });
        return lost.empty() ? 0.0 : 100.0 * double(n) / double(lost.size());
    };
    const double share = shareWithin5(f.lost);
    std::printf("\n%s: %zu messages, %zu panel runs\n", qPrintable(c.label), f.lost.size(),
                f.notHeard.size());
    if (f.sinkMinUs >= 0)
        std::printf("  the sink's latency (block) while the tool played: %.1f to %.1f ms\n",
                    f.sinkMinUs / 1000.0, f.sinkMaxUs / 1000.0);
    if (f.lost.size() < size_t(messages))
        std::printf("  NOT recorded: %zu of %d messages (the tool stopped; see above)\n",
                    size_t(messages) - f.lost.size(), messages);
    std::printf("  content lost before STOP   p50 %6.1f  p95 %6.1f  p99 %6.1f  max %6.1f ms; "
                "<= 5 ms: %5.1f %% (goal >= %.0f %%): %s\n",
                percentile(f.lost, 0.5), percentile(f.lost, 0.95), percentile(f.lost, 0.99),
                percentile(f.lost, 1.0), share, goalShare, share >= goalShare ? "met" : "NOT met");
    std::printf("    by the far end's stamps alone: max %6.1f ms; <= 5 ms: %5.1f %%\n",
                percentile(f.lostByFarEnd, 1.0), shareWithin5(f.lostByFarEnd));
    for (const QString& loss : f.losses)
        std::printf("    lost %s\n", qPrintable(loss));
    const double p95 = percentile(f.stopAfter, 0.95);
    const double min = percentile(f.stopAfter, 0.0);
    std::printf("  STOP after last sample     p50 %+6.1f  p95 %+6.1f  min %+6.1f ms "
                "(goal 0..+60 at p95, never negative): %s\n",
                percentile(f.stopAfter, 0.5), p95, min,
                p95 >= 0 && p95 <= 60 && min >= -RigErrorMs ? "met" : "NOT met");
    std::printf("    of it: output's end vs last sound p50 %+6.1f  p95 %+6.1f; handed after "
                "that p50 %+6.1f  p95 %+6.1f; byte at the far end after its write p50 %+6.1f  "
                "p95 %+6.1f ms\n",
                percentile(f.stopParts[0], 0.5), percentile(f.stopParts[0], 0.95),
                percentile(f.stopParts[1], 0.5), percentile(f.stopParts[1], 0.95),
                percentile(f.stopParts[2], 0.5), percentile(f.stopParts[2], 0.95));
    std::printf("  onset after SET_REC end    p50 %+6.1f  p95 %+6.1f  max %+6.1f ms\n",
                percentile(f.onset, 0.5), percentile(f.onset, 0.95), percentile(f.onset, 1.0));
    std::printf("    SET_REC's last byte at the far end after its write p50 %+6.1f  p95 %+6.1f  "
                "max %+6.1f ms\n",
                percentile(f.recWire, 0.5), percentile(f.recWire, 0.95),
                percentile(f.recWire, 1.0));
    const auto sum = [](const std::map<QString, std::vector<double>>& m, const QString& key) {
        double t = 0;
        if (const auto it = m.find(key); it != m.end())
            for (double x : it->second)
                t += x;
        return t;
    };
    for (const auto& [format, lost] : f.lostByFormat) {
        // The reference's content against the source WAV's and the played file's, per message.
        const auto it = f.sinkMs.find(format);
        const auto n = double(it == f.sinkMs.end() ? 1 : std::max<size_t>(1, it->second.size()));
        std::printf("    %-16s %3zu msgs: lost p50 %6.1f  max %6.1f ms; content at the sink "
                    "- played file %+6.2f, played file - source %+6.2f ms\n",
                    qPrintable(format), lost.size(), percentile(lost, 0.5), percentile(lost, 1.0),
                    (sum(f.sinkMs, format) - sum(f.playedMs, format)) / n,
                    (sum(f.playedMs, format) - sum(f.sourceMs, format)) / n);
    }
    if (!f.notHeard.empty()) {
        const double lo = percentile(f.notHeard, 0.0), hi = percentile(f.notHeard, 1.0);
        std::printf("  panel REC: file end not heard  p50 %+6.1f  min %+6.1f  max %+6.1f ms "
                    "(goal 50 +- 30): %s; onset after REC p50 %+6.1f  min %+6.1f ms\n",
                    percentile(f.notHeard, 0.5), lo, hi, lo >= 20 && hi <= 80 ? "met" : "NOT met",
                    percentile(f.panelOnset, 0.5), percentile(f.panelOnset, 0.0));
        const auto list = [](const char* label, const std::vector<double>& values) {
            std::printf("    %s:", label);
            for (double v : values)
                std::printf(" %.1f", v);
            std::printf(" ms\n");
        };
        list("each run", f.notHeard);
        list("the same by the capture's stamps of the last sound", f.notHeardByStamps);
        list("STOP handed over to its write", f.panelHandedToWrite);
        list("the write to the byte at the far end", f.panelWriteToFarEnd);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QApplication app(argc, argv);
    int messages = 30;
    int panelRuns = 12;
    QString child;
    QString dumpDir;
    QStringList wanted;
    for (const Condition& c : conditions())
        wanted << c.name;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--quick")) {
            messages = 8;
            panelRuns = 2;
        } else if (args[i] == QLatin1String("--messages") && i + 1 < args.size()) {
            messages = std::max(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--panel-runs") && i + 1 < args.size()) {
            panelRuns = std::max(0, args[++i].toInt());
        } else if (args[i] == QLatin1String("--conditions") && i + 1 < args.size()) {
            wanted = args[++i].split(QLatin1Char(','));
        } else if (args[i] == QLatin1String("--dump") && i + 1 < args.size()) {
            dumpDir = args[++i];
        } else if (args[i] == QLatin1String("--child") && i + 1 < args.size()) {
            child = args[++i];
        } else {
            std::fprintf(stderr, "usage: bench_sound [--quick] [--messages N] [--panel-runs K] "
                                 "[--conditions default-idle,default-compile,blocks-idle,"
                                 "blocks-compile] [--dump DIR]\n");
            return 2;
        }
    }
    if (!child.isEmpty()) {
        for (const Condition& c : conditions())
            if (c.name == child)
                return runCondition(c, messages, panelRuns, dumpDir, app);
        return 2;
    }

    std::printf("bench_sound: %d messages and %d panel runs per condition; sound measured at a "
                "private PulseAudio null sink\n",
                messages, panelRuns);
    std::fflush(stdout);
    for (const Condition& c : conditions()) {
        if (!wanted.contains(c.name))
            continue;
        CompileLoad load;
        if (c.compile)
            load.start();
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), c.name, QStringLiteral("--messages"),
                 QString::number(messages), QStringLiteral("--panel-runs"),
                 QString::number(panelRuns), QStringLiteral("--dump"), dumpDir});
        p.waitForFinished(-1);
        load.stop();
        Figures f;
        for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w.size() >= 14 && w[0] == "MSG") {
                f.lost.push_back(w[1].toDouble());
                if (!std::isnan(w[2].toDouble())) {
                    f.stopAfter.push_back(w[2].toDouble());
                    f.onset.push_back(w[3].toDouble());
                }
                for (int k = 0; k < 3; ++k)
                    if (!std::isnan(w[5 + k].toDouble()))
                        f.stopParts[k].push_back(w[5 + k].toDouble());
                const QString format = QString::fromUtf8(w.mid(13).join(' '));
                f.lostByFarEnd.push_back(w[12].toDouble());
                f.lostByFormat[format].push_back(w[1].toDouble());
                if (!std::isnan(w[11].toDouble()))
                    f.recWire.push_back(w[11].toDouble());
                if (w[1].toDouble() > 5.0)
                    f.losses.push_back(QStringLiteral("%1 ms (%2): before SET_REC %3, after STOP "
                                                      "%4, never out %5; SET_REC at the far end "
                                                      "%6 ms after its write; by the far "
                                                      "end's stamps alone %7 ms")
                                           .arg(QString::fromUtf8(w[1]), format,
                                                QString::fromUtf8(w[8]), QString::fromUtf8(w[9]),
                                                QString::fromUtf8(w[10]), QString::fromUtf8(w[11]),
                                                QString::fromUtf8(w[12])));
            } else if (w.size() >= 5 && w[0] == "REF") {
                const QString format = QString::fromUtf8(line.mid(line.indexOf(w[4])));
                f.sourceMs[format].push_back(w[1].toDouble());
                f.playedMs[format].push_back(w[2].toDouble());
                f.sinkMs[format].push_back(w[3].toDouble());
            } else if (w.size() >= 3 && w[0] == "SINK") {
                f.sinkMinUs = w[1].toLongLong();
                f.sinkMaxUs = w[2].toLongLong();
            } else if (w.size() >= 9 && w[0] == "PANEL") {
                f.notHeard.push_back(w[1].toDouble());
                f.panelHandedToWrite.push_back(w[6].toDouble());
                f.panelWriteToFarEnd.push_back(w[7].toDouble());
                f.notHeardByStamps.push_back(w[5].toDouble());
                f.panelOnset.push_back(w[2].toDouble());
                f.panelOut.push_back(w[3].toDouble() - w[4].toDouble());
            }
        }
        if (p.exitCode() != 0)
            std::printf("\n%s: the run failed (exit %d)\n", qPrintable(c.label), p.exitCode());
        printCondition(c, f, messages);
        std::fflush(stdout);
    }
    return 0;
}
