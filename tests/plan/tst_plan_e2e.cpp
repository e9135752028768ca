// tamberlo-cli plan | program | export against tamberlo-bridge-sim: generated WAV and MP3
// prompts recorded into the simulated chip through the real serial adapter and the real
// player playing on a private PulseAudio server's null sink, checked in the simulator's
// byte log and by the map scan. Real time; loose bounds (the tight timing figures are
// bench_plan's).
#include "e2e/SimulatorRig.h"
#include "support/PulseServer.h"
#include "support/Wav.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <csignal>

using namespace tamberlo;
using namespace tamberlo::e2e;

namespace {

// A run of tamberlo-cli, with its standard output read as JSON (empty unless --json).
struct Run : ProgramRun {
    QJsonObject json;
};

// When the frame `name` (SET_REC, SET_ERASE) with these rows was complete on the wire,
// the last time it was; -1 if it never was.
qint64 frameEndUs(const Simulator& sim, const QString& range,
                  const QString& name = QStringLiteral("SET_REC")) {
    qint64 us = -1;
    for (const LoggedByte& b : sim.received()) {
        if (b.note.contains(QStringLiteral("%1 5/5: %1 ").arg(name) + range))
            us = b.us;
    }
    return us;
}

// How many rows of the run that starts at `first` the chip's memory file holds.
int recordedRows(const QString& memoryFile, int first) {
    for (const auto& [from, to] : memoryRuns(memoryFile))
        if (from == first)
            return to - from + 1;
    return 0;
}

// How many SET_ERASE frames were complete on the wire.
qsizetype setEraseCount(const Simulator& sim) {
    qsizetype count = 0;
    for (const LoggedByte& b : sim.received())
        count += b.note.contains(QLatin1String("SET_ERASE 5/5: SET_ERASE ")) ? 1 : 0;
    return count;
}

} // namespace

class TestPlanE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void planAndExport();
    void programsThePlan();
    void hangUpInMessageTwoThenResume();
    void resumeOnTheSameChip();
    void planThatDoesNotFit();
    void plansNoChipCanHold();
    void interruptedWhileRecording();
    void noOutputNothingRecorded();
    void choosesTheOutput();
    void cleanup();

private:
    Run cli(const QStringList& arguments, int timeoutMs = 90000,
            const QProcessEnvironment& extra = {});
    QProcessEnvironment environment(const QProcessEnvironment& extra = {}) const;
    // `program` of plan.json on a simulator started with `options`, which goes away as soon
    // as message 2's SET_REC frame is complete (a board unplugged in message 2).
    Run goneInMessageTwo(int port, const QStringList& options);
    QString path(const QString& name) const { return files_.filePath(name); }
    bool writePlan(const QString& name, const QByteArray& json);

    RuntimeDir runtime_;
    // A sound server of the test's own whose one output is a null sink: sound really comes
    // out of an output, nobody hears it.
    test::PulseServer sound_{test::PulseServerOptions{0, true}};
    QTemporaryDir files_;
    std::unique_ptr<Simulator> sim_;
    bool haveMp3_ = false;
    // name, file, length in ms
    QList<std::tuple<QString, QString, int>> prompts_;
};

void TestPlanE2e::initTestCase() {
    QVERIFY(runtime_.isValid());
    QVERIFY(files_.isValid());
    QVERIFY2(sound_.ok(), qPrintable(sound_.error()));
    QVERIFY(test::writeWav(path("hello.wav"), 8000, 1, 700));
    QVERIFY(test::writeWav(path("beep.wav"), 22050, 1, 400));
    QVERIFY(test::writeWav(path("long.wav"), 16000, 2, 1300));
    QVERIFY(test::writeWav(path("tone.wav"), 22050, 1, 900));
    const QString lame = QStandardPaths::findExecutable("lame");
    haveMp3_ = !lame.isEmpty() &&
               QProcess::execute(lame, {"--quiet", path("tone.wav"), path("tone.mp3")}) == 0;
    prompts_ = {
        {"hello", "hello.wav", 700}, {"beep", "beep.wav", 400}, {"long one", "long.wav", 1300}};
    if (haveMp3_)
        prompts_.append({"tone", "tone.mp3", 900});
    QJsonArray messages;
    for (const auto& [name, file, ms] : prompts_)
        messages.append(QJsonObject{{"name", name}, {"file", file}});
    QVERIFY(
        writePlan("plan.json",
                  QJsonDocument(QJsonObject{{"model", "auto"}, {"messages", messages}}).toJson()));
}

bool TestPlanE2e::writePlan(const QString& name, const QByteArray& json) {
    QFile f(path(name));
    return f.open(QIODevice::WriteOnly) && f.write(json) == json.size();
}

QProcessEnvironment TestPlanE2e::environment(const QProcessEnvironment& extra) const {
    QProcessEnvironment env = runtime_.environment(); // the port links; PULSE_SERVER is sound_'s
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    return env;
}

Run TestPlanE2e::cli(const QStringList& arguments, int timeoutMs,
                     const QProcessEnvironment& extra) {
    // A busy machine (parallel tests, sanitizers) may answer late; a missing reply is not
    // what these runs are about, a hang-up is noticed at once whatever the time-out.
    QStringList withTimeout = arguments;
    if (arguments.contains(QStringLiteral("--port")))
        withTimeout = QStringList{"--timeout", "5000"} + arguments;
    Run run;
    static_cast<ProgramRun&>(run) =
        runProgram(QStringLiteral(TAMBERLO_CLI), withTimeout, environment(extra), timeoutMs);
    run.json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    return run;
}

Run TestPlanE2e::goneInMessageTwo(int port, const QStringList& options) {
    Run run;
    if (!startSimulator(sim_, runtime_, port, options))
        return run;
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral(TAMBERLO_CLI),
            {"--timeout", "5000", "--port", QString::number(port), "program", path("plan.json")});
    // Message 1 may be recorded twice on a busy machine; message 2 comes after it either way.
    waitFor([this] { return sim_->setRecRanges().contains("0x01C..0x024"); }, 60000);
    sim_->stop();
    if (!p.waitForFinished(30000))
        p.kill();
    p.waitForFinished();
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

void TestPlanE2e::cleanup() {
    if (QTest::currentTestFailed() && sim_)
        qWarning("%s", qPrintable(sim_->tail()));
    sim_.reset();
}

void TestPlanE2e::planAndExport() {
    const Run plan = cli({"plan", path("plan.json")});
    QVERIFY2(plan.exitCode == 0, qPrintable(plan.err));
    // hello: 700 + 700 ms = 11.2 rows of 125 ms: 12 rows from 0x010.
    QVERIFY2(
        plan.out.contains(QRegularExpression("1 +hello +hello\\.wav +0\\.70 s +12 +0x010 +0x01B")),
        qPrintable(plan.out));
    QVERIFY2(plan.out.contains("uses "), qPrintable(plan.out));

    const Run header = cli({"export", path("plan.json"), "--format", "h"});
    QCOMPARE(header.exitCode, 0);
    QVERIFY2(header.out.contains("#define HELLO_START 0x010") &&
                 header.out.contains("#define LONG_ONE_END"),
             qPrintable(header.out));
    const Run json = cli({"export", path("plan.json"), "--format", "json"});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.json.value("messages").toArray().size(), prompts_.size());

    // Files straight on the command line: one message each, named after the file.
    const Run files = cli({"plan", path("hello.wav"), path("beep.wav")});
    QCOMPARE(files.exitCode, 0);
    QVERIFY2(files.out.contains(QRegularExpression("2 +beep +.*beep\\.wav")),
             qPrintable(files.out));
    // What a plan file's keys say, for files: 700 + 100 ms at 4 kHz = 3.2 rows of 250 ms.
    const Run keyed = cli({"plan", path("hello.wav"), path("beep.wav"), "--model", "isd1720",
                           "--rate", "4000", "--margin", "100"});
    QCOMPARE(keyed.exitCode, 0);
    QVERIFY2(keyed.out.contains("ISD1720, 4000 Hz") &&
                 keyed.out.contains(QRegularExpression("1 +hello +.*0\\.70 s +4 +0x010 +0x013")) &&
                 keyed.out.contains("uses 6 of 160 rows"),
             qPrintable(keyed.out));
    const Run missing = cli({"plan", path("hello.wav"), path("nothing.wav")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.err.contains("message 2 \"nothing\"") && missing.err.contains("no such file"),
             qPrintable(missing.err));
}

void TestPlanE2e::programsThePlan() {
    QVERIFY(startSimulator(sim_, runtime_, 41));
    const Run run = cli({"--port", "41", "--json", "program", path("plan.json")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));

    // The planned rows went out, in order, and nothing was erased.
    const QJsonArray messages = run.json.value("messages").toArray();
    QCOMPARE(messages.size(), prompts_.size());
    QStringList planned;
    QList<int> starts;
    for (const QJsonValue& v : messages) {
        const QJsonObject m = v.toObject();
        planned << m.value("start_hex").toString() + ".." + m.value("end_hex").toString();
        starts << m.value("start").toInt();
    }
    // Each message once; on a busy machine an output that fell behind may have its
    // message erased and recorded once more, right after.
    QStringList once = sim_->setRecRanges();
    once.erase(std::unique(once.begin(), once.end()), once.end());
    QVERIFY2(once == planned,
             qPrintable(sim_->setRecRanges().join(", ") + "\n" + run.err + run.out));
    const qsizetype retries = sim_->setRecRanges().size() - planned.size();
    QCOMPARE(setEraseCount(*sim_), retries);
    QVERIFY(sim_->commands("G_ERASE").isEmpty());
    QVERIFY(sim_->commands("ERASE").isEmpty());

    // STOP reached the chip about one file's length after the SET_REC frame was complete:
    // never early; late only by what a busy machine adds (the figures are bench_plan's).
    const QList<LoggedByte> stops = sim_->commands("STOP");
    QVERIFY(stops.size() >= prompts_.size());
    for (qsizetype i = 0; i < prompts_.size(); ++i) {
        const qint64 frameEnd = frameEndUs(*sim_, planned[i]);
        qint64 stopUs = -1;
        for (const LoggedByte& s : stops) {
            if (s.us > frameEnd) {
                stopUs = s.us;
                break;
            }
        }
        const double recordedMs = (stopUs - frameEnd) / 1000.0;
        const int length = std::get<2>(prompts_[i]);
        QVERIFY2(frameEnd > 0 && recordedMs > length - 100 && recordedMs < length + 1000,
                 qPrintable(QString("message %1: STOP %2 ms after SET_REC, file %3 ms")
                                .arg(i + 1)
                                .arg(recordedMs)
                                .arg(length)));
    }

    // Each message once (or once more), STOP after its last sample had come out.
    qsizetype attempts = 0;
    for (const QJsonValue& v : messages) {
        const QJsonObject m = v.toObject();
        QVERIFY(m.value("attempts").toInt() == 1 || m.value("attempts").toInt() == 2);
        attempts += m.value("attempts").toInt() - 1;
        QVERIFY2(m.value("stop_offset_ms").toDouble() >= 0.0 &&
                     m.value("start_offset_ms").toDouble() >= 0.0,
                 qPrintable(QJsonDocument(m).toJson()));
    }
    QCOMPARE(attempts, retries);

    // The map read back equals the plan.
    QJsonArray chipStarts = run.json.value("chip_starts").toArray();
    QList<int> chip;
    for (const QJsonValue& v : chipStarts)
        chip << v.toInt();
    QCOMPARE(chip, starts);
    QVERIFY(run.json.value("mismatches").toArray().isEmpty());
}

void TestPlanE2e::hangUpInMessageTwoThenResume() {
    // The board goes away once message 2's SET_REC is complete.
    const Run broken = goneInMessageTwo(42, {});
    QVERIFY2(broken.exitCode == 3, qPrintable(broken.err));
    QVERIFY2(broken.err.contains("message 2 \"beep\"") && broken.err.contains("complete: 1") &&
                 broken.err.contains("--from 2"),
             qPrintable(broken.err));
    const QStringList before = sim_->setRecRanges();
    QCOMPARE(before.last(), QStringLiteral("0x01C..0x024"));
    QVERIFY(before.size() == 2 || before.size() == 3); // message 1 once, or once more
    QCOMPARE(before.first(), QStringLiteral("0x010..0x01B"));
    sim_.reset();

    // Resumed by name on a fresh simulator: messages 2 onwards at their planned rows. The
    // fresh chip lacks message 1, which the comparison says and nothing else.
    QVERIFY(startSimulator(sim_, runtime_, 43));
    const Run resumed =
        cli({"--port", "43", "--json", "program", path("plan.json"), "--from", "beep"});
    QVERIFY2(resumed.exitCode == 5, qPrintable(resumed.err));
    const QStringList ranges = sim_->setRecRanges();
    QCOMPARE(ranges.size(), prompts_.size() - 1);
    QCOMPARE(ranges.value(0), QStringLiteral("0x01C..0x024"));
    // Its rows erased first (they may hold the interrupted recording), nothing else.
    const qint64 erased = frameEndUs(*sim_, "0x01C..0x024", "SET_ERASE");
    QVERIFY(erased > 0 && erased < frameEndUs(*sim_, "0x01C..0x024"));
    QVERIFY(sim_->commands("G_ERASE").isEmpty());
    const QJsonArray mismatches = resumed.json.value("mismatches").toArray();
    QCOMPARE(mismatches.size(), 1);
    QVERIFY2(mismatches[0].toString().contains("message 1 \"hello\""),
             qPrintable(mismatches[0].toString()));
}

void TestPlanE2e::resumeOnTheSameChip() {
    // The hang-up of hangUpInMessageTwoThenResume on a chip whose memory survives: the
    // simulator started again on the same memory, the run resumed with --from 2. Message 2's
    // rows hold the interrupted recording; erased first, the chip ends up as planned.
    const QString memory = path("chip.memory");
    QFile::remove(memory);
    const Run broken = goneInMessageTwo(47, {"--memory", memory});
    QVERIFY2(broken.exitCode == 3, qPrintable(broken.err));
    QVERIFY2(broken.err.contains("--from 2"), qPrintable(broken.err));
    sim_.reset();
    // The board, left alone, records on to the end of message 2's rows (0x01C..0x024) and
    // writes its end marker there: a resumed recording shorter than that leaves a message
    // of its own behind unless the rows are erased first.
    QFile file(memory);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith("rows 0x01c"))
            lines << line;
    }
    file.close();
    QCOMPARE(lines.size(), 3); // header, model, message 1
    lines << "rows 0x01c 0x024 eom";
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write((lines.join('\n') + '\n').toUtf8());
    file.close();

    QVERIFY(startSimulator(sim_, runtime_, 48, {"--memory", memory}));
    const Run resumed =
        cli({"--port", "48", "--json", "program", path("plan.json"), "--from", "2"});
    QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.out + resumed.err));
    QList<int> planned;
    for (const QJsonValue& v : resumed.json.value("messages").toArray())
        planned << v.toObject().value("start").toInt();
    QList<int> chip;
    for (const QJsonValue& v : resumed.json.value("chip_starts").toArray())
        chip << v.toInt();
    QCOMPARE(chip, planned);
    QVERIFY(resumed.json.value("mismatches").toArray().isEmpty());
    QVERIFY(sim_->commands("G_ERASE").isEmpty());
    QCOMPARE(sim_->setRecRanges().size(), prompts_.size() - 1);
}

void TestPlanE2e::planThatDoesNotFit() {
    // 200 rows for one message: an ISD1720 has 160 message rows.
    QVERIFY(writePlan("big.json", R"({"model": "auto", "messages": [
        {"name": "a", "file": "hello.wav"}, {"name": "b", "file": "beep.wav", "rows": 200}]})"));
    QVERIFY(startSimulator(sim_, runtime_, 44, {"--model", "ISD1720"}));
    const Run run = cli({"--port", "44", "program", path("big.json")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("does not fit: it needs 212 rows") &&
                 run.err.contains("ISD1720 has 160"),
             qPrintable(run.err));
    QVERIFY(sim_->setRecRanges().isEmpty());

    QVERIFY(writePlan("big1720.json", R"({"model": "ISD1720", "messages": [
        {"name": "b", "file": "beep.wav", "rows": 200}]})"));
    const Run offline = cli({"plan", path("big1720.json")});
    QCOMPARE(offline.exitCode, 1);
    QVERIFY2(offline.err.contains("it needs 200 rows"), qPrintable(offline.err));
}

void TestPlanE2e::plansNoChipCanHold() {
    // Ten minutes: more than the largest model holds, refused by plan and export alike
    // when the model is to be read from the chip.
    QVERIFY(test::writeWav(path("ten-minutes.wav"), 8000, 1, 600000));
    for (const char* command : {"plan", "export"}) {
        const Run run = cli({command, path("hello.wav"), path("ten-minutes.wav")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("the plan does not fit") &&
                     run.err.contains("the largest model, ISD17240, has 1920"),
                 qPrintable(run.err));
        QVERIFY2(!run.out.contains("#define") && !run.out.contains("uses "), qPrintable(run.out));
    }
    // A start no chip has.
    QVERIFY(writePlan("tail.json", R"({"messages": [{"name": "a", "file": "hello.wav"},
        {"name": "tail", "file": "beep.wav", "start": "0x7F8"}]})"));
    for (const char* command : {"plan", "export"}) {
        const Run run = cli({command, path("tail.json")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("message 2 \"tail\" starts at row 0x7F8, past the largest "
                                  "model's (ISD17240) last row 0x78F"),
                 qPrintable(run.err));
        QVERIFY2(!run.out.contains("TAIL_END"), qPrintable(run.out));
    }
}

void TestPlanE2e::interruptedWhileRecording() {
    // SIGINT while message 2 plays: STOP goes out, the run ends with code 3 and says where.
    // The chip keeps its rows in a memory file, which shows when it records message 2's second
    // row: then the recording is under way.
    const QString memory = path("interrupted.memory");
    QFile::remove(memory);
    QVERIFY(startSimulator(sim_, runtime_, 45, {"--memory", memory}));
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral(TAMBERLO_CLI),
            {"--timeout", "5000", "--port", "45", "program", path("plan.json")});
    // Message 2's SET_REC: the first range that is not message 1's (which a busy machine may
    // record once more first).
    const auto secondRange = [this] {
        const QStringList ranges = sim_->setRecRanges();
        for (const QString& r : ranges)
            if (r != ranges.value(0))
                return r;
        return QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!secondRange().isEmpty(), 60000);
    const qint64 secondFrame = frameEndUs(*sim_, secondRange());
    const int secondStart = secondRange().section("..", 0, 0).toInt(nullptr, 0);
    QVERIFY(waitFor([&] { return recordedRows(memory, secondStart) >= 2; }, 60000));
    QVERIFY(::kill(static_cast<pid_t>(p.processId()), SIGINT) == 0);
    QVERIFY(p.waitForFinished(30000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), 3);
    QVERIFY2(err.contains("message 2 \"beep\": interrupted") && err.contains("complete: 1") &&
                 err.contains("--from 2"),
             qPrintable(err));
    bool stopAfter = false;
    for (const LoggedByte& s : sim_->commands("STOP"))
        stopAfter = stopAfter || s.us > secondFrame;
    QVERIFY2(stopAfter, qPrintable(sim_->tail()));
    QCOMPARE(sim_->setRecRanges().size(), 2);
}

void TestPlanE2e::noOutputNothingRecorded() {
    // No sound server to play on: refused before anything reaches the chip.
    QVERIFY(startSimulator(sim_, runtime_, 46));
    QProcessEnvironment gone;
    gone.insert("PULSE_SERVER", "unix:" + path("no-such-server"));
    const Run run = cli({"--port", "46", "program", path("plan.json")}, 90000, gone);
    QCOMPARE(run.exitCode, 6);
    QVERIFY2(run.err.contains("the audio could not be played whole: no working output"),
             qPrintable(run.err));
    QVERIFY(sim_->setRecRanges().isEmpty());
    QVERIFY(sim_->received().isEmpty());
}

void TestPlanE2e::choosesTheOutput() {
    // The test's sound server has one output, the null sink: listed as the default.
    const Run list = cli({"audio-devices"});
    QCOMPARE(list.exitCode, 0);
    QVERIFY2(list.out.contains(QRegularExpression("^\\*  1  Null Output  \\(tamberlo_null\\)\n")),
             qPrintable(list.out));
    const Run json = cli({"--json", "audio-devices"});
    QCOMPARE(json.json.value("outputs").toArray().size(), 1);
    QVERIFY(json.json.value("outputs").toArray()[0].toObject().value("default").toBool());

    // One that is not there is refused before anything is sent; one that is plays.
    QVERIFY(startSimulator(sim_, runtime_, 49));
    const Run missing = cli({"--port", "49", "program", path("hello.wav"), "--audio-device", "2"});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.err.contains("--audio-device 2: no such output"), qPrintable(missing.err));
    QVERIFY(sim_->received().isEmpty());
    const Run chosen = cli(
        {"--port", "49", "--json", "program", path("hello.wav"), "--audio-device", "null output"});
    QVERIFY2(chosen.exitCode == 0, qPrintable(chosen.err));
    QCOMPARE(sim_->setRecRanges(), QStringList{"0x010..0x01B"});
}

QTEST_GUILESS_MAIN(TestPlanE2e)
#include "tst_plan_e2e.moc"
