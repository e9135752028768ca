// bench_autostop: a recording started with the record button on a generated file, the
// automatic STOP sent by the status tick through the transmitter and the serial adapter to a
// pseudo-terminal. Measures in wall-clock time when the STOP byte 0x02 reaches the far end
// of the terminal against when the player really ends the file, minus 50 ms.
//
//   bench_autostop [--runs N] [--short-only]
//
// Runs N recordings of a 10 s WAV file, N of a 10 s MP3 file (when lame is installed) and
// one of a 180 s WAV file, and prints every run and a summary. "tick error" is the audio
// source's own share: when the status tick hands STOP to the transmitter, against the same
// mark; the transmitter then writes the byte on its next 50 ms tick. Targets: error at most 30 ms
// on 10 s, at most 0.3 % on 180 s.
#include "shared/RecordingPanel.h"
#include "support/Wav.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace tamberlo;
using namespace tamberlo::bench;

namespace {

double msBetween(qint64 fromUs, qint64 toUs) {
    return double(toUs - fromUs) / 1000.0;
}

struct Run {
    QString label;
    std::int32_t lengthMs = 0;
    double handoffMs = 0; // the tick that sent STOP, from the record button
    double wireMs = 0;    // STOP at the far end, from the record button
    double endMs = 0;     // the player reported the end, from the record button
    double error() const { return wireMs - (endMs - AudioSource::StopBeforeEndMs); }
    // The audio source's own share: the tick that hands STOP to the transmitter.
    double tickError() const { return handoffMs - (endMs - AudioSource::StopBeforeEndMs); }
    double errorFromStart() const { return wireMs - (lengthMs - AudioSource::StopBeforeEndMs); }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);

    int runs = 3;
    bool shortOnly = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--short-only"))
            shortOnly = true;
    }

    // The pseudo-terminal, reached through port number 7 of the panel.
    WireWatch wire(runtime.path(), 7);
    if (!wire.isValid())
        return 1;

    QTemporaryDir files;
    QList<std::pair<QString, QString>> plan; // label, file
    if (!tamberlo::test::writeWav(files.filePath(QStringLiteral("10s.wav")), 22050, 1, 10000))
        return 1;
    for (int i = 0; i < runs; ++i)
        plan.append({QStringLiteral("10 s WAV"), files.filePath(QStringLiteral("10s.wav"))});
    const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
    if (!lame.isEmpty() &&
        QProcess::execute(lame,
                          {QStringLiteral("--quiet"), files.filePath(QStringLiteral("10s.wav")),
                           files.filePath(QStringLiteral("10s.mp3"))}) == 0) {
        for (int i = 0; i < runs; ++i)
            plan.append({QStringLiteral("10 s MP3"), files.filePath(QStringLiteral("10s.mp3"))});
    }
    if (!shortOnly) {
        if (!tamberlo::test::writeWav(files.filePath(QStringLiteral("180s.wav")), 22050, 1, 180000))
            return 1;
        plan.append({QStringLiteral("180 s WAV"), files.filePath(QStringLiteral("180s.wav"))});
    }

    // The panel's audio source and device link, wired as the window wires them.
    RecordingPanel panel;
    QString why;
    if (!panel.open(7, &why)) {
        std::fprintf(stderr, "cannot open the pseudo-terminal: %s\n", qPrintable(why));
        return 1;
    }
    QtAudioPlayer& player = panel.player;

    std::printf("automatic stop: STOP byte at the wire against the end of the file - 50 ms\n");
    std::printf(
        "(positive error: STOP late; the status tick is %d ms, the transmitter paces %d ms)\n\n",
        AudioSource::TickMs, Transmitter::PaceMs);
    std::printf("%-10s %9s %10s %10s %10s %10s %9s %10s\n", "file", "length", "ended", "tick-STOP",
                "wire-STOP", "error", "error%", "tick error");

    QList<Run> results;
    for (const auto& [label, file] : plan) {
        if (panel.openFile(file) <= 0) {
            std::fprintf(stderr, "%s did not open\n", qPrintable(file));
            return 1;
        }
        Run run;
        run.label = label;
        run.lengthMs = panel.source.MusicLenMs();
        qint64 ended = 0;
        QEventLoop loop;
        // The player's end: its last sample has come out of the output (looked at every ms).
        QTimer endWatch;
        endWatch.setTimerType(Qt::PreciseTimer);
        auto c2 = QObject::connect(&endWatch, &QTimer::timeout, &loop, [&] {
            if (player.mode() == Ready && ended == 0) {
                ended = monotonicUs();
                QTimer::singleShot(200, &loop, &QEventLoop::quit);
            }
        });
        endWatch.start(1);
        QTimer::singleShot(run.lengthMs + 10000, &loop, &QEventLoop::quit);
        // The record button: RecElapsedMs 0 and RecOn, REC to the chip, the audio started.
        const qint64 play = panel.record();
        loop.exec();
        QObject::disconnect(c2);
        panel.finish();

        const qint64 handoff = panel.stopHandedUs;
        const qint64 onWire = handoff ? wire.find(0x02, play) : 0;
        if (handoff == 0 || ended == 0 || onWire == 0) {
            std::fprintf(stderr, "%s: no STOP or no end seen\n", qPrintable(label));
            return 1;
        }
        run.handoffMs = msBetween(play, handoff);
        run.wireMs = msBetween(play, onWire);
        run.endMs = msBetween(play, ended);
        results.append(run);
        std::printf("%-10s %9d %10.1f %10.1f %10.1f %+10.1f %+8.3f%% %+10.1f\n", qPrintable(label),
                    run.lengthMs, run.endMs, run.handoffMs, run.wireMs, run.error(),
                    100.0 * run.error() / run.lengthMs, run.tickError());
        std::fflush(stdout);
    }

    std::printf("\nsummary (times in ms from the record button)\n");
    QStringList labels;
    for (const auto& r : results)
        if (!labels.contains(r.label))
            labels.append(r.label);
    for (const QString& label : labels) {
        double sum = 0, worst = 0, sumFromStart = 0, sumPacing = 0, sumLateEnd = 0, sumTick = 0;
        int n = 0;
        std::int32_t length = 0;
        for (const auto& r : results) {
            if (r.label != label)
                continue;
            ++n;
            length = r.lengthMs;
            sum += r.error();
            worst = std::max(worst, std::abs(r.error()));
            sumFromStart += r.errorFromStart();
            sumPacing += r.wireMs - r.handoffMs;
            sumLateEnd += r.endMs - r.lengthMs;
            sumTick += r.tickError();
        }
        const double target = length <= 60000 ? 30.0 : 0.003 * length;
        std::printf(
            "%-10s runs %d: error mean %+.1f ms, worst |%.1f| ms (%.3f %%), target %.0f ms: %s\n",
            qPrintable(label), n, sum / n, worst, 100.0 * worst / length, target,
            worst <= target ? "met" : "NOT met");
        std::printf("%-10s   of it: the tick handing STOP over %+.1f ms, the transmitter's pacing "
                    "to the wire %+.1f ms\n",
                    "", sumTick / n, sumPacing / n);
        std::printf("%-10s   player's end after Play + length %+.1f ms; STOP against Play + length "
                    "- 50 %+.1f ms\n",
                    "", sumLateEnd / n, sumFromStart / n);
    }
    panel.close();
    return 0;
}
