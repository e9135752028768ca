// tamberlo-cli end to end: the real program against tamberlo-bridge-sim over a
// pseudo-terminal. Each row of the table is one simulator and a sequence of runs, each with
// its expected exit code and lines. Real time on both sides; bounds are loose and only catch
// a hang.

#include "e2e/SimulatorRig.h"
#include "link/PtyPair.h"
#include "support/Wav.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/ioctl.h>

using namespace tamberlo::e2e;

namespace {

constexpr int RunBoundMs = 30000; // a run that takes longer than this hangs

struct Run {
    Run(QStringList a, int e, QString o = {}, QString r = {}, QString j = {}, QString n = {},
        QString s = {})
        : args(std::move(a)), exit(e), out(std::move(o)), err(std::move(r)), json(std::move(j)),
          absent(std::move(n)), sent(std::move(s)) {}
    Run() = default;
    QStringList args;
    int exit = 0;
    QString out;    // regular expression standard output must match ("" = anything)
    QString err;    // the same for standard error
    QString json;   // for --json runs: "key=value" the document must hold ("" = none)
    QString absent; // regular expression standard output must not match ("" = none)
    QString sent;   // a command the simulator must have received by the end of the run
};

struct Outcome {
    int exit = -1;
    QString out;
    QString err;
    bool finished = false;
};

Outcome runCli(const RuntimeDir& runtime, const QStringList& args) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice()); // not a terminal
    process.start(QStringLiteral(TAMBERLO_CLI), args);
    Outcome outcome;
    outcome.finished = process.waitForStarted(RunBoundMs) && process.waitForFinished(RunBoundMs);
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    outcome.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

// Keys of every object in the document, however deep.
void collectKeys(const QJsonValue& value, QStringList& keys) {
    if (value.isArray()) {
        for (const QJsonValue& v : value.toArray())
            collectKeys(v, keys);
    } else if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            keys << it.key();
            collectKeys(it.value(), keys);
        }
    }
}

// Columns on a terminal, counted independently of the program: East Asian wide and full-width
// characters two, everything else one.
int columns(const QString& text) {
    int width = 0;
    for (const uint c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

bool matches(const QString& pattern, const QString& text) {
    return pattern.isEmpty() ||
           QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
               .match(text)
               .hasMatch();
}

// "messages.length=3", "ok=false", "model=ISD1760", "messages.0.start=0x010"
QString jsonValue(const QJsonDocument& doc, const QString& path) {
    QJsonValue value = doc.object();
    for (const QString& key : path.split(QLatin1Char('.'))) {
        if (key == QLatin1String("length") && value.isArray())
            return QString::number(value.toArray().size());
        bool index = false;
        const int i = key.toInt(&index);
        value = index ? value.toArray().at(i) : value.toObject().value(key);
    }
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isDouble())
        return QString::number(value.toDouble());
    return value.toString();
}

} // namespace

Q_DECLARE_METATYPE(QList<Run>)

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void subcommands_data();
    void subcommands();
    void pacingOnTheWire();
    void helpAgreesWithTheReadme();
    void recordTellsWhatTheChipHolds_data();
    void recordTellsWhatTheChipHolds();
    void recordEndsOnASignalOrALostBoard_data();
    void recordEndsOnASignalOrALostBoard();
    void progressFitsTheTerminal_data();
    void progressFitsTheTerminal();
    void planTableAlignsByDisplayWidth_data();
    void planTableAlignsByDisplayWidth();

private:
    RuntimeDir runtime_;
};

void TestCli::initTestCase() {
    QVERIFY(runtime_.isValid());
}

void TestCli::subcommands_data() {
    QTest::addColumn<QStringList>("simulator"); // empty: no simulator
    QTest::addColumn<QList<Run>>("runs");

    const QString model = QStringLiteral("ISD1760 \\(device ID 0xA0, last row 0x1EF\\)");

    QTest::newRow("usage errors")
        << QStringList{}
        << QList<Run>{
               {{"bogus"}, 1, "^$", "unknown command 'bogus'"},
               {{}, 1, "", "no command given"},
               {{"id", "extra"}, 1, "", "id takes no arguments"},
               {{"--frobnicate", "id"}, 1, "", "unknown option '--frobnicate'"},
               {{"record", "--volume", "3"}, 1, "", "--volume is not an option of record"},
               {{"--timeout", "0", "id"}, 1, "", "--timeout takes milliseconds"},
               {{"set-play", "0x800", "1"}, 1, "", "'0x800' is past the last row any chip has"},
               {{"set-play", "zz", "10"}, 1, "", "'zz' is not an address"},
               {{"set-play", "0x20", "0x10"}, 1, "", "START \\(0x020\\) is after END \\(0x010\\)"},
               {{"set-play", "10"}, 1, "", "set-play needs two rows"},
               {{"apc", "--source", "line"}, 1, "", "--source is Lin, Mic or LM"},
               // Port numbers count from 1, as the resolver counts devices.
               {{"--port", "0", "id"}, 1, "", "--port 0 is not a port number \\(1 to 32767\\)"},
               {{"--port", "-3", "id"}, 1, "", "--port -3 is not a port number \\(1 to 32767\\)"},
               {{"--port", "32768", "id"}, 1, "", "--port 32768 is not a port number"},
               {{"--verbose=3", "id"}, 1, "", "--verbose takes 1 or 2, not '3'"},
               // Each command's help: the options that apply to it, their defaults, its exit
               // codes.
               {{"program", "--help"},
                0,
                "--yes, -y.*--json.*\n  6  program",
                "",
                "",
                "--verbose=2 +let"},
               {{"plan", "--help"},
                0,
                "--margin MS +for audio files given directly: added to each message's\n +length; "
                "default 700\n.*--verbose=2 +let the audio libraries",
                "",
                "",
                "--port|--timeout|--yes|\n  [2-6]  "},
               {{"export", "--help"},
                0,
                "--format h\\|csv\\|json\\s+h \\(a C header\\), csv or json; default h",
                "",
                "",
                "--port|--timeout|--yes|\n  [2-6]  "},
               {{"ports", "--help"}, 0, "--json", "", "", "--port|--timeout|--verbose|\n  [2-6]  "},
               {{"id", "--help"},
                0,
                "--port N\\|DEVICE.*--timeout MS.*\n  4  the chip refused",
                "",
                "",
                "--yes|\n  [56]  "},
               {{"erase-all", "--help"}, 0, "--yes, -y +do not ask before erasing"},
               {{"--port", "nope", "id"}, 1, "", "--port takes a number or a device path"},
               {{"--json", "bogus"}, 1, "", "", "exit_code=1"},
               {{"--port", "9", "id"}, 2, "", "^port 9: no serial device has this number"},
               {{"--port", "/dev/tamberlo-none", "id"},
                2,
                "",
                "^/dev/tamberlo-none: cannot open the device: .+"},
               {{"--version"}, 0, "^tamberlo-cli \\d+\\.\\d+\\.\\d+\n$"},
               {{"help", "map"}, 0, "Usage: tamberlo-cli \\[OPTIONS\\] map"},
               {{"erase-all", "--help"}, 0, "--yes"},
               {{"plan"}, 1, "", "plan needs a plan file or audio files"},
               {{"export", "p.json", "--format", "xml"}, 1, "", "--format is h, csv or json"},
               {{"plan", "p.json", "--erase-first"},
                1,
                "",
                "--erase-first is not an option of plan"},
               {{"plan", "/nonexistent/p.json"}, 1, "", "/nonexistent/p.json: cannot read"},
               {{"program", "/nonexistent/a.wav", "--dry-run"}, 1, "", "a.wav: no such file"},
               {{"help", "program"}, 0, "--from K"},
               {{"help", "program"}, 0, "6  program: the audio could not be played whole"},
               {{"help", "record"}, 0, "It plays no file"},
               {{"audio-devices", "extra"}, 1, "", "audio-devices takes no arguments"},
               {{"record", "--audio-device", "1"}, 1, "", "--audio-device is not an option of"},
               {{"plan", "p.json", "--model", "ISD1720"},
                1,
                "",
                "--model is for audio files given directly; p.json says it with its \"model\" "
                "key"},
               {{"plan", "/nonexistent/a.wav", "--model", "ISD9"},
                1,
                "",
                "--model ISD9: no known chip"},
               {{"export", "/nonexistent/a.wav", "--rate", "44100"},
                1,
                "",
                "--rate 44100: the chip's sample rates are 12000, 8000"},
               {{"plan", "/nonexistent/a.wav", "--margin", "-1"}, 1, "", "--margin takes"},
           };

    QTest::newRow("bring-up, id, status, ports")
        << QStringList{}
        << QList<Run>{
               {{"--port", "1", "id"}, 0, model + "\n$"},
               {{"status"},
                0,
                "flags +none: powered down\n.*play pointer +0x010\n.*current address +0x010, not "
                "ready"},
               {{"play"},
                4,
                "",
                "^port 1 \\(/dev/pts/\\d+\\): the chip refused PLAY \\(0x40\\) \\(CMD_ERR\\)\n$"},
               {{"status"}, 0, "flags +CMD_ERR: the last command was refused; powered down"},
               {{"init"}, 0, "^reset and powered up: " + model},
               {{"status", "--json"}, 0, "", "", "status.powered_up=true"},
               // Rows and bytes are numbers with a hex text beside them; the port a number.
               {{"status", "--json"}, 0, "", "", "play_pointer=16"},
               {{"status", "--json"}, 0, "", "", "current_address_hex=0x010"},
               {{"--json", "id"}, 0, "", "", "device_id=160"},
               {{"--json", "id"}, 0, "", "", "last_row_hex=0x1EF"},
               {{"--json", "--port", "1", "id"}, 0, "", "", "port=1"},
               {{"--json", "id"}, 0, "", "", "model=ISD1760"},
               {{"ports"}, 0, "^    1  /dev/pts/\\d+ \\(link .*/tamberlo/port1\\)\n    2  "},
               {{"ports", "--json"}, 0, "", "", "ports.0.port=1"},
               {{"--verbose", "id"}, 0, model, "> 0x09\n.*< 0x04\n.*< 0xA0"},
           };

    QTest::newRow("refused ERASE, erase-all needs --yes")
        << QStringList{}
        << QList<Run>{
               {{"init"}, 0},
               {{"erase"}, 4, "^$", "the chip refused ERASE \\(0x42\\) \\(CMD_ERR\\)"},
               {{"--json", "erase"}, 4, "", "refused ERASE", "failure=refused"},
               {{"erase-all"}, 1, "", "standard input is not a terminal, so give --yes"},
               {{"set-erase", "10", "20"}, 1, "", "give --yes"},
               {{"erase-all", "--yes"}, 0, "^erased every message\n$"},
               {{"map"}, 0, "^ISD1760: 0 messages\nrecord pointer 0x010\n$"},
               {{"record", "--seconds", "0.3"}, 0},
               {{"map"}, 0, "^ISD1760: 1 message\n +1  0x010\n"},
               {{"--json", "map"}, 0, "", "", "messages.0.start_hex=0x010"},
           };

    QTest::newRow("map after recordings of different lengths")
        << QStringList{}
        << QList<Run>{
               {{"init"}, 0},
               {{"record", "--seconds", "0.3"},
                0,
                "the message starts at 0x010; record pointer now 0x01[0-9A-F]"},
               {{"record", "--seconds", "1"}, 0},
               {{"record", "--seconds", "0.5"}, 0},
               {{"map"},
                0,
                // Rows of 125 ms: about 3, 8 and 4 rows, a row or two more on a busy machine.
                "^ISD1760: 3 messages\n +1  0x010\n +2  0x01[2-5]\n +3  0x0(1[A-F]|20)\nrecord "
                "pointer 0x0(1[E-F]|2[0-6])\n$"},
               {{"map", "--json"}, 0, "", "", "messages.length=3"},
               // map leaves the play pointer on the newest message, where it found it.
               {{"fwd"}, 0, "^play pointer at 0x010\n$"},
               {{"fwd"}, 0, "^play pointer at 0x01[2-5]\n$"},
               {{"erase"}, 4, "", "refused ERASE"}, // the middle message
               {{"fwd"}, 0},
               {{"erase"}, 0, "^erased the message at the play pointer\n$"},
               {{"map", "--json"}, 0, "", "", "messages.length=2"},
           };

    QTest::newRow("ranges and the analog path on an ISD1720")
        << QStringList{"--model", "ISD1720"}
        << QList<Run>{
               {{"init"}, 0, "ISD1720 \\(device ID 0x90, last row 0x0AF\\)"},
               {{"set-play", "0x010", "0x0B0"},
                1,
                "",
                "'0x0B0' is past the last row of the ISD1720 \\(0x0AF\\)"},
               {{"set-rec", "0x040", "01 00"}, 1, "", "past the last row of the ISD1720"},
               {{"apc", "--volume", "2", "--source", "Mic", "--monitor", "--speaker"},
                0,
                "^analog path written \\(0x65 0x0C 0x4A\\): volume 2, source Mic, monitor on, "
                "speaker on\n$"},
               {{"apc"}, 0, "\\(0x65 0x0D 0x00\\)"},
               {{"apc", "--source", "mIC"}, 0, "source Mic, monitor off"},
               {{"set-rec", "0x040", "0A0"}, 0, "^recording into rows 0x040 to 0x0A0\n$"},
               {{"status"}, 0, "current address +0x04[0-9A-F], recording"},
               {{"stop"}, 0, "^stopped\n$"},
               {{"set-play", "40", "01 00"}, 1},
               {{"set-play", "40", "41"}, 0, "^playing rows 0x040 to 0x041\n$"},
               {{"set-erase", "0x040", "0x0A0", "--yes"}, 0, "^erased rows 0x040 to 0x0A0\n$"},
           };

    QTest::newRow("split replies and surplus bytes do not shift replies")
        << QStringList{"--extra-bytes", "2", "--split-ms", "3"}
        << QList<Run>{
               {{"init"}, 0, "^reset and powered up: " + model},
               {{"record", "--seconds", "0.3"}, 0},
               {{"record", "--seconds", "0.3"}, 0},
               {{"map"}, 0, "^ISD1760: 2 messages\n +1  0x010\n"},
               {{"status"}, 0, "play pointer +0x01[2-5]\n"}, // on the newest, as map found it
           };

    QTest::newRow("a reply that never comes")
        << QStringList{"--reply-delay-ms", "5000"}
        << QList<Run>{
               {{"--timeout", "300", "id"},
                3,
                "^$",
                "^port 1 \\(/dev/pts/\\d+\\): no reply to DEVID \\(0x09\\) within 300 ms\n$"},
               {{"--json", "--timeout", "200", "status"},
                3,
                "",
                "within 200 ms",
                "failure=timeout"},
               // REC without a reply may have started a recording: STOP goes out all the same.
               {{"--timeout", "300", "record", "--seconds", "5"},
                3,
                "^$",
                "no reply to REC \\(0x41\\) within 300 ms",
                "",
                "",
                "STOP"},
           };

    QTest::newRow("hang-up in the middle of a frame")
        << QStringList{"--hangup-after", "3"}
        << QList<Run>{
               // DEVID, then SET_PLAY: the simulator hangs up after its second byte.
               {{"set-play", "10", "20"},
                3,
                "^$",
                "^port 1 \\(/dev/pts/\\d+\\): .*(went away|no reply)"},
           };

    QTest::newRow("hang-up while recording")
        << QStringList{"--hangup-after", "4"}
        << QList<Run>{
               {{"init"}, 0}, // RESET, PU, DEVID
               {{"record"},
                3,
                "",
                "went away|no reply"}, // REC, then its DEVID read is the 5th byte
           };
}

void TestCli::subcommands() {
    QFETCH(QStringList, simulator);
    QFETCH(QList<Run>, runs);

    std::unique_ptr<Simulator> sim;
    const bool needsSimulator = QString(QTest::currentDataTag()) != QLatin1String("usage errors");
    if (needsSimulator)
        QVERIFY(startSimulator(sim, runtime_, 1, simulator));
    for (const Run& run : runs) {
        const Outcome o = runCli(runtime_, run.args);
        const QString where =
            QStringLiteral("tamberlo-cli %1\n-- exit %2\n-- stdout:\n%3-- stderr:\n%4%5")
                .arg(run.args.join(' '))
                .arg(o.exit)
                .arg(o.out, o.err, sim ? "-- simulator:\n" + sim->tail(12) : QString());
        QVERIFY2(o.finished, qPrintable("hangs: " + where));
        QVERIFY2(o.exit == run.exit, qPrintable(where));
        QVERIFY2(matches(run.out, o.out),
                 qPrintable("stdout does not match " + run.out + "\n" + where));
        QVERIFY2(matches(run.err, o.err),
                 qPrintable("stderr does not match " + run.err + "\n" + where));
        QVERIFY2(run.absent.isEmpty() || !matches(run.absent, o.out),
                 qPrintable("stdout matches " + run.absent + "\n" + where));
        if (!run.sent.isEmpty())
            QVERIFY2(sim && !sim->commands(run.sent).isEmpty(),
                     qPrintable(run.sent + " never reached the simulator\n" + where));
        if (run.args.contains(QLatin1String("--json"))) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(o.out.toUtf8(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable("no JSON: " + where));
            QCOMPARE(jsonValue(doc, "exit_code"), QString::number(run.exit));
            // One style for every command: snake_case keys.
            QStringList keys;
            collectKeys(doc.object(), keys);
            static const QRegularExpression snake(QStringLiteral("^[a-z][a-z0-9_]*$"));
            for (const QString& key : std::as_const(keys))
                QVERIFY2(snake.match(key).hasMatch(), qPrintable("key " + key + "\n" + where));
            QCOMPARE(jsonValue(doc, "ok"), run.exit == 0 ? QString("true") : QString("false"));
            if (!run.json.isEmpty()) {
                const QStringList kv = run.json.split('=');
                QVERIFY2(jsonValue(doc, kv[0]) == kv[1], qPrintable(run.json + "\n" + where));
            }
        }
        // Any run with a simulator: every frame on the wire was whole and nothing else went in.
    }
}

void TestCli::pacingOnTheWire() {
    std::unique_ptr<Simulator> sim;
    QVERIFY(startSimulator(sim, runtime_, 1));
    const Outcome o = runCli(runtime_, {"--verbose", "set-play", "0x010", "0x020"});
    QVERIFY2(o.finished && o.exit == 4, qPrintable(o.err)); // powered down: refused
    // DEVID, SET_PLAY (5 bytes), the DEVID status read: whole frames, in order, on the wire.
    const QList<int> expected{0x09, 0x80, 0x00, 0x10, 0x00, 0x20, 0x09};
    const QList<LoggedByte> in = sim->received();
    QCOMPARE(in.size(), expected.size());
    for (int i = 0; i < in.size(); ++i)
        QCOMPARE(int(in[i].value), expected[i]);
    // The same bytes as the tool wrote them, each at least 50 ms after the one before (the
    // simulator's own read times jitter with the machine's load; the write times do not
    // come early).
    static const QRegularExpression written(QStringLiteral("^ *([0-9.]+) ms  > 0x([0-9A-F]{2})$"),
                                            QRegularExpression::MultilineOption);
    QList<double> at;
    QList<int> bytes;
    for (auto m = written.globalMatch(o.err); m.hasNext();) {
        const QRegularExpressionMatch w = m.next();
        at << w.captured(1).toDouble();
        bytes << w.captured(2).toInt(nullptr, 16);
    }
    QCOMPARE(bytes, expected);
    for (int i = 1; i < at.size(); ++i)
        QVERIFY2(at[i] - at[i - 1] >= 49.9,
                 qPrintable(QString("byte %1 written %2 ms after the one before\n%3")
                                .arg(i)
                                .arg(at[i] - at[i - 1])
                                .arg(o.err)));
}

void TestCli::helpAgreesWithTheReadme() {
    const Outcome help = runCli(runtime_, {"--help"});
    QCOMPARE(help.exit, 0);
    QFile readme(QStringLiteral(TAMBERLO_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    // The README's "Command line" section shows the --help text verbatim in a code block.
    const qsizetype section = text.indexOf(QLatin1String("## Command line"));
    QVERIFY(section >= 0);
    QVERIFY2(text.indexOf(help.out, section) >= 0,
             qPrintable("README's Command line section lacks the --help text:\n" + help.out));
}

// record against a chip whose memory is nearly full (the simulator's memory file holds a
// message up to row 0x0A0 of an ISD1720's 0x0AF): the chip stops by itself after 15 rows,
// and record says what the chip holds, not how long it waited.
void TestCli::recordTellsWhatTheChipHolds_data() {
    QTest::addColumn<QByteArray>("memory"); // the simulator's memory file
    QTest::addColumn<QList<Run>>("runs");
    const QByteArray head("tamberlo-bridge-sim memory 1\nmodel ISD1720\n");
    QTest::newRow("record --seconds past the end of the memory")
        << head + "rows 0x010 0x0a0 eom\n"
        << QList<Run>{
               {{"init"}, 0},
               {{"record", "--seconds", "3"},
                0,
                "^recorded 1\\.8[78] s, up to the end of the free memory \\(the chip stopped by "
                "itself: it is full; 3\\.00 s were asked for\\): the message starts at 0x0A1; "
                "record pointer now 0x010\n$"},
               {{"record"}, 4, "", "the chip refused REC"},
           };
    QTest::newRow("record --json past the end of the memory")
        << head + "rows 0x010 0x0a0 eom\n"
        << QList<Run>{
               {{"init"}, 0},
               {{"--json", "record", "--seconds", "2.5"}, 0, "\"full\": true", "", "rows=15"},
           };
    QTest::newRow("record that fits") << head + "rows 0x010 0x020 eom\n"
                                      << QList<Run>{
                                             {{"init"}, 0},
                                             {{"--json", "record", "--seconds", "0.5"},
                                              0,
                                              "\"full\": false",
                                              "",
                                              "start_hex=0x021"},
                                         };
}

void TestCli::recordTellsWhatTheChipHolds() {
    QFETCH(QByteArray, memory);
    QFETCH(QList<Run>, runs);
    const QString memoryFile = runtime_.path() + QStringLiteral("/record.memory");
    QFile file(memoryFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(memory), memory.size());
    file.close();
    std::unique_ptr<Simulator> sim;
    QVERIFY(startSimulator(sim, runtime_, 1, {"--model", "ISD1720", "--memory", memoryFile}));
    for (const Run& run : runs) {
        const Outcome o = runCli(runtime_, run.args);
        const QString where = QStringLiteral("tamberlo-cli %1\n-- exit %2\n-- stdout:\n%3-- "
                                             "stderr:\n%4-- simulator:\n%5")
                                  .arg(run.args.join(' '))
                                  .arg(o.exit)
                                  .arg(o.out, o.err, sim->tail(12));
        QVERIFY2(o.finished && o.exit == run.exit, qPrintable(where));
        QVERIFY2(matches(run.out, o.out), qPrintable("stdout: " + run.out + "\n" + where));
        QVERIFY2(matches(run.err, o.err), qPrintable("stderr: " + run.err + "\n" + where));
        if (!run.json.isEmpty()) {
            const QStringList kv = run.json.split('=');
            const QString value = jsonValue(QJsonDocument::fromJson(o.out.toUtf8()), kv[0]);
            QVERIFY2(value == kv[1], qPrintable(run.json + "\n" + where));
        }
    }
    // The STOP went out once the chip had stopped by itself, and nothing after it but reads.
    QVERIFY2(!sim->commands("STOP").isEmpty(), qPrintable(sim->tail()));
}

enum class RecordEnd { Interrupt, Terminate, BoardUnplugged };
Q_DECLARE_METATYPE(RecordEnd)

// A run of record that ends early. Ctrl-C or SIGTERM while REC and its status read are under
// way (the simulator answers 400 ms late to widen that window) still end in STOP; a board
// unplugged (the simulator killed) 1.5 s into a 5 s recording is noticed at once.
void TestCli::recordEndsOnASignalOrALostBoard_data() {
    QTest::addColumn<RecordEnd>("end");
    QTest::newRow("Ctrl-C before REC is confirmed") << RecordEnd::Interrupt;
    QTest::newRow("SIGTERM before REC is confirmed") << RecordEnd::Terminate;
    QTest::newRow("board unplugged while recording") << RecordEnd::BoardUnplugged;
}

void TestCli::recordEndsOnASignalOrALostBoard() {
    QFETCH(RecordEnd, end);
    const bool signal = end != RecordEnd::BoardUnplugged;
    std::unique_ptr<Simulator> sim;
    QVERIFY(startSimulator(sim, runtime_, 1,
                           signal ? QStringList{"--reply-delay-ms", "400"} : QStringList{}));
    QCOMPARE(runCli(runtime_, {"init"}).exit, 0);

    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    cli.setProcessEnvironment(environment);
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(QStringLiteral(TAMBERLO_CLI), {"record", "--seconds", "5"});
    QVERIFY(cli.waitForStarted(RunBoundMs));
    // REC has reached the chip.
    QTRY_VERIFY_WITH_TIMEOUT(!sim->commands("REC").isEmpty(), RunBoundMs);
    QElapsedTimer sinceEnd;
    if (signal) {
        QVERIFY(sim->commands("DEVID").size() == 1); // only init's: REC is not confirmed yet
        ::kill(pid_t(cli.processId()), end == RecordEnd::Interrupt ? SIGINT : SIGTERM);
    } else {
        QTest::qWait(1500);
        sim->process().kill(); // the board is gone, as when its cable is pulled
        QVERIFY(sim->process().waitForFinished(5000));
    }
    sinceEnd.start();
    QVERIFY(cli.waitForFinished(RunBoundMs));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    const QString where = out + err + "\n" + sim->tail(16);
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    if (signal) {
        QVERIFY2(cli.exitCode() == 0, qPrintable(where));
        QVERIFY2(out.startsWith(QLatin1String("recorded ")), qPrintable(where));
        // STOP went out after REC was confirmed, long before the 5 s were up.
        const QList<LoggedByte> stops = sim->commands("STOP");
        QVERIFY2(stops.size() == 1 && stops[0].us > sim->commands("REC")[0].us, qPrintable(where));
        QVERIFY2(sinceEnd.elapsed() < 4000, qPrintable(where));
    } else {
        QVERIFY2(cli.exitCode() == 3, qPrintable(where));
        QVERIFY2(err.contains(QLatin1String("the device went away")), qPrintable(where));
        // Noticed at once, not when the 5 s are up (3.5 s later).
        QVERIFY2(sinceEnd.elapsed() < 3000, qPrintable(QString::number(sinceEnd.elapsed())));
    }
}

// record's progress bar on a terminal of a given width (standard error on a pseudo-terminal):
// every drawing fits one line, is redrawn in place (no line feed) and the bar ends full.
void TestCli::progressFitsTheTerminal_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("last"); // the last drawing
    QTest::newRow("50 columns") << 50 << "^recording \\[#{27}\\] 1\\.0/1\\.0 s$";
    QTest::newRow("120 columns: the bar at its widest")
        << 120 << "^recording \\[#{30}\\] 1\\.0/1\\.0 s$";
    QTest::newRow("24 columns: cut to fit") << 24 << "^recording \\[#####\\] 1\\.0/\u2026$";
}

void TestCli::progressFitsTheTerminal() {
    QFETCH(int, width);
    QFETCH(QString, last);
    std::unique_ptr<Simulator> sim;
    QVERIFY(startSimulator(sim, runtime_, 1));
    QCOMPARE(runCli(runtime_, {"init"}).exit, 0);
    tamberlo::test::PtyPair terminal;
    QVERIFY(terminal.isValid());
    winsize size{};
    size.ws_col = static_cast<unsigned short>(width);
    size.ws_row = 24;
    QVERIFY(::ioctl(terminal.master(), TIOCSWINSZ, &size) == 0);
    tamberlo::test::MasterReader screen(terminal.master());

    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    cli.setProcessEnvironment(environment);
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.setStandardErrorFile(terminal.slaveName());
    cli.start(QStringLiteral(TAMBERLO_CLI), {"record", "--seconds", "1"});
    QVERIFY(cli.waitForFinished(RunBoundMs));
    QCOMPARE(cli.exitCode(), 0);
    QVERIFY(QString::fromUtf8(cli.readAllStandardOutput()).startsWith("recorded "));
    // The last bytes through the pseudo-terminal: the line cleared at the end.
    QTRY_VERIFY_WITH_TIMEOUT(screen.bytes().endsWith("\r\x1b[K"), RunBoundMs);
    const QString text = QString::fromUtf8(screen.bytes());
    QVERIFY2(!text.contains(QLatin1Char('\n')), qPrintable(text)); // never a new line
    QStringList drawings;
    for (QString d : text.split(QLatin1Char('\r'))) {
        d.remove(QStringLiteral("\x1b[K"));
        if (!d.isEmpty())
            drawings << d;
    }
    QVERIFY2(drawings.size() >= 5, qPrintable(text)); // redrawn as it went
    for (const QString& d : std::as_const(drawings))
        QVERIFY2(columns(d) < width, qPrintable(QString("%1 columns: %2").arg(columns(d)).arg(d)));
    QVERIFY2(matches(last, drawings.last()), qPrintable(drawings.last()));
    QVERIFY2(text.endsWith(QLatin1String("\r\x1b[K")), qPrintable(text)); // cleared at the end
}

// The plan's table lines up on a terminal whatever the names: each column starts at the
// same display column on every line, a Chinese name taking two columns a character.
void TestCli::planTableAlignsByDisplayWidth_data() {
    QTest::addColumn<QStringList>("names"); // the audio files' names, without .wav
    QTest::newRow("ASCII") << QStringList{"hello", "bye"};
    QTest::newRow("Chinese") << QStringList{"欢迎光临", "bye"};
    QTest::newRow("full-width and Chinese") << QStringList{"ｗｅｌｃｏｍｅ", "再见", "ok"};
}

void TestCli::planTableAlignsByDisplayWidth() {
    QFETCH(QStringList, names);
    QStringList files;
    for (const QString& name : std::as_const(names)) {
        files << runtime_.path() + "/" + name + ".wav";
        QVERIFY(tamberlo::test::writeWav(files.last(), 8000, 1, 500));
    }
    const Outcome o = runCli(runtime_, QStringList{"plan"} + files);
    QVERIFY2(o.exit == 0, qPrintable(o.out + o.err));
    const QStringList lines = o.out.split(QLatin1Char('\n'));
    const qsizetype header = lines.indexOf(QRegularExpression("^  #  name.*"));
    QVERIFY2(header >= 0, qPrintable(o.out));
    // Where "file" and "start" begin in the header, and where the path and the start row
    // begin on each message's line.
    const auto at = [](const QString& line, const QString& what) {
        const qsizetype i = line.indexOf(what);
        return i < 0 ? -1 : columns(line.left(i));
    };
    const int fileColumn = at(lines[header], "file");
    const int startColumn = at(lines[header], "start");
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& line = lines.value(header + 1 + i);
        QVERIFY2(at(line, "/") == fileColumn, qPrintable(o.out));
        QVERIFY2(at(line, " 0x0") + 1 == startColumn, qPrintable(o.out));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
