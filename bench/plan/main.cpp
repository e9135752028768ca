// bench_plan: tamberlo-cli program against tamberlo-bridge-sim with N generated prompts
// (WAV and MP3, 0.4 to 2.2 s). Prints, per run and summed over runs:
//   - total time of the tool (process start to exit) against the sum of the audio lengths,
//     as overhead per message (goal: at most 0.6 s), with the share of the closing map scan;
//   - start alignment: the file's position 0 (as the player reports it) after the SET_REC
//     frame's last byte reached the simulator (goal: within 20 ms at p95);
//   - stop alignment: the STOP byte at the simulator against the file's end (goal: within
//     30 ms at p95; positive: late).
// Times of the simulator's log and of the tool's report are both the monotonic clock.
//
//   bench_plan [--messages N] [--runs R]
#include "e2e/SimulatorRig.h"
#include "support/Wav.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

using namespace tamberlo;
using namespace tamberlo::e2e;

namespace {

double percentile(QList<double> values, double p) {
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = p * (values.size() - 1);
    const auto lo = static_cast<qsizetype>(std::floor(rank));
    const auto hi = static_cast<qsizetype>(std::ceil(rank));
    return values[lo] + (values[hi] - values[lo]) * (rank - lo);
}

QList<double> absolute(const QList<double>& values) {
    QList<double> out;
    for (double v : values)
        out << std::abs(v);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int messages = 10;
    int runs = 2;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--messages")
            messages = std::max(1, args[++i].toInt());
        else if (args[i] == "--runs")
            runs = std::max(1, args[++i].toInt());
    }

    RuntimeDir runtime;
    QTemporaryDir dir;
    const QString lame = QStandardPaths::findExecutable("lame");
    QJsonArray list;
    for (int i = 0; i < messages; ++i) {
        const int ms = 400 + (i * 600) % 1900; // 0.4 .. 2.2 s
        const QString wav = dir.filePath(QString("p%1.wav").arg(i));
        if (!test::writeWav(wav, i % 2 ? 22050 : 8000, 1, ms))
            return 1;
        QString file = wav;
        if (i % 3 == 2 && !lame.isEmpty()) {
            file = dir.filePath(QString("p%1.mp3").arg(i));
            if (QProcess::execute(lame, {"--quiet", wav, file}) != 0)
                file = wav;
        }
        list.append(QJsonObject{{"name", QString("prompt %1").arg(i + 1)}, {"file", file}});
    }
    QFile planFile(dir.filePath("plan.json"));
    if (!planFile.open(QIODevice::WriteOnly))
        return 1;
    planFile.write(QJsonDocument(QJsonObject{{"model", "ISD17240"}, {"messages", list}}).toJson());
    planFile.close();

    std::printf("bench_plan: %d messages, %d runs; tamberlo-cli program against the simulator\n\n",
                messages, runs);
    QList<double> starts, stops, overheads, mapShares, players;
    for (int run = 1; run <= runs; ++run) {
        Simulator sim(runtime);
        QString why;
        if (!sim.start(60 + run, {"--model", "ISD17240"}, &why)) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        QElapsedTimer wall;
        wall.start();
        const ProgramRun cli = runProgram(
            TAMBERLO_CLI,
            {"--port", QString::number(60 + run), "--json", "program", planFile.fileName()},
            runtime.environment(), 600000);
        if (cli.exitCode != 0) {
            std::fprintf(stderr, "run %d: exit %d\n%s\n%s\n", run, cli.exitCode,
                         qPrintable(cli.out), qPrintable(cli.err));
            return 1;
        }
        const double totalMs = wall.nsecsElapsed() / 1e6;
        const QJsonObject out = QJsonDocument::fromJson(cli.out.toUtf8()).object();
        const QJsonArray done = out.value("messages").toArray();

        // The simulator's times: each SET_REC frame's last byte, and each STOP byte.
        QList<qint64> frameEnds, stopBytes;
        qint64 lastStopUs = 0;
        for (const LoggedByte& b : sim.received()) {
            if (b.note.contains("SET_REC 5/5"))
                frameEnds << b.us;
            else if (b.note.startsWith("STOP"))
                stopBytes << b.us;
        }
        qint64 lastByteUs = 0;
        for (const LoggedByte& b : sim.log())
            lastByteUs = std::max(lastByteUs, b.us);

        double sumAudio = 0;
        std::printf("run %d\n%4s %8s %10s %12s %10s %12s %8s\n", run, "msg", "length", "start ms",
                    "(player ms)", "stop ms", "(handed ms)", "row");
        for (qsizetype i = 0; i < done.size() && i < frameEnds.size(); ++i) {
            const QJsonObject m = done[i].toObject();
            const double length = m.value("length_ms").toDouble();
            sumAudio += length;
            const double audioStart = m.value("audio_start_us").toDouble();
            const double audioEnd = audioStart + length * 1000;
            qint64 stopUs = 0;
            for (qint64 s : stopBytes) {
                if (s > frameEnds[i]) {
                    stopUs = s;
                    break;
                }
            }
            lastStopUs = stopUs;
            const double start = (audioStart - frameEnds[i]) / 1000.0;
            const double stop = (stopUs - audioEnd) / 1000.0;
            starts << start;
            stops << stop;
            // When the tool handed STOP to its chip client, against the file's end.
            const double handed = (m.value("stop_handed_us").toDouble() - audioEnd) / 1000.0;
            // The player's own share of the start: from its Play, given when the tool saw the
            // frame's last byte written, to the file's position 0.
            const double player = (audioStart - m.value("frame_sent_us").toDouble()) / 1000.0;
            players << player;
            std::printf("%4lld %8.0f %+10.1f %+12.1f %+10.1f %+12.1f %8s\n",
                        static_cast<long long>(i + 1), length, start, player, stop, handed,
                        qPrintable(m.value("stopped_row_hex").toString()));
        }
        const double overhead = (totalMs - sumAudio) / messages;
        const double mapMs = (lastByteUs - lastStopUs) / 1000.0;
        overheads << overhead;
        mapShares << mapMs / messages;
        std::printf("total %.0f ms for %.0f ms of audio: overhead %.0f ms per message "
                    "(of it the last STOP to the end of the map %.0f ms, %.0f ms per message)\n\n",
                    totalMs, sumAudio, overhead, mapMs, mapMs / messages);
        sim.stop();
    }

    const auto line = [](const char* what, const QList<double>& v, double goal) {
        const double p95 = percentile(absolute(v), 0.95);
        std::printf("%-28s p50 %+7.1f  p95 |%6.1f|  max |%6.1f|  goal %4.0f ms: %s\n", what,
                    percentile(v, 0.5), p95, percentile(absolute(v), 1.0), goal,
                    p95 <= goal ? "met" : "NOT met");
    };
    std::printf("summary over %lld messages\n", static_cast<long long>(starts.size()));
    line("start (audio - frame end)", starts, 20);
    std::printf("%-28s p50 %+7.1f  p95 |%6.1f|  (the player's own start, from its Play)\n",
                "  of it the player", percentile(players, 0.5),
                percentile(absolute(players), 0.95));
    line("stop (STOP - file end)", stops, 30);
    const double worst = *std::max_element(overheads.begin(), overheads.end());
    std::printf("%-28s mean %.0f ms, worst run %.0f ms, goal 600 ms: %s\n", "overhead per message",
                std::accumulate(overheads.begin(), overheads.end(), 0.0) / overheads.size(), worst,
                worst <= 600 ? "met" : "NOT met");
    return 0;
}
