// The runs the plan window drives, without a window: the remaining time, the rows' states
// after a recording and after a map scan, the clock's text, and a run on the fake port (a
// port that does not open, a sound output that is missing, the device going away).
#include "PlanFakes.h"
#include "plan/PlanDocument.h"
#include "plan/PlanRun.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace tamberlo;
using namespace tamberlo::plan;
using Kind = ProgramOutcome::Kind;

namespace {

// States as letters: - none, W waiting, R recording, D done, X failed, F found, M missing,
// V moved.
QString letters(const QList<RowState>& states) {
    static const QString all = QStringLiteral("-WRDXFMV");
    QString s;
    for (RowState r : states)
        s += all[static_cast<int>(r)];
    return s;
}
QList<RowState> states(const QString& text) {
    static const QString all = QStringLiteral("-WRDXFMV");
    QList<RowState> s;
    for (QChar c : text)
        s << static_cast<RowState>(all.indexOf(c));
    return s;
}

// Three messages at 0x010..0x018, 0x019..0x01C, 0x01D..0x02D.
Layout threeMessages() {
    Plan p;
    p.marginMs = 100;
    for (int ms : {1000, 400, 2000})
        p.messages.append({QStringLiteral("m%1").arg(ms), {}, {}, {}, {}});
    return allocate(p, {{1000, {}}, {400, {}}, {2000, {}}}, nullptr);
}

// A document of three files on the fake player, and the run on the fake port and the
// scripted audio.
struct Rig {
    QTemporaryDir dir;
    test::LengthsPlayer player;
    test::FakeSerialPort port;
    test::ScriptedAudio audio;
    PlanDocument doc{&player};
    PlanRun run{doc, {&port, &audio}};
    QList<RowState> rows; // as the run's signals set them

    Rig() {
        player.fileLength = 500;
        QStringList files;
        for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
            files << dir.filePath(name);
            QFile f(files.last());
            if (f.open(QIODevice::WriteOnly))
                f.write("RIFF");
        }
        doc.addFiles(files);
        rows = QList<RowState>(3, RowState::Found);
        QObject::connect(&run, &PlanRun::rowChanged, &run,
                         [this](int row, const RowCheck& c) { rows[row] = c.state; });
    }
};

} // namespace

class TestPlanRun : public QObject {
    Q_OBJECT
private slots:
    void remainingTime_data();
    void remainingTime();
    void checksAgainstTheMap_data();
    void checksAgainstTheMap();
    void rowsAfterRecording_data();
    void rowsAfterRecording();
    void clockText_data();
    void clockText();
    void portProblems_data();
    void portProblems();
    void missingOutputSendsNothing();
    void lostDeviceEndsTheRun();
};

void TestPlanRun::remainingTime_data() {
    QTest::addColumn<qint64>("audioLeft");
    QTest::addColumn<int>("messagesLeft");
    QTest::addColumn<qint64>("remaining");
    QTest::newRow("nothing left") << qint64(0) << 0 << qint64(0);
    QTest::newRow("one message") << qint64(1500) << 1 << qint64(1500 + OverheadPerMessageMs);
    QTest::newRow("three messages") << qint64(4000) << 3 << qint64(4000 + 3 * OverheadPerMessageMs);
    // A position report past the length counts no audio, never less.
    QTest::newRow("played past the end") << qint64(-200) << 1 << qint64(OverheadPerMessageMs);
    QTest::newRow("no messages counted below none") << qint64(300) << -1 << qint64(300);
}

void TestPlanRun::remainingTime() {
    QFETCH(qint64, audioLeft);
    QFETCH(int, messagesLeft);
    QFETCH(qint64, remaining);
    QCOMPARE(remainingRunMs(audioLeft, messagesLeft), remaining);
}

void TestPlanRun::checksAgainstTheMap_data() {
    QTest::addColumn<QList<int>>("chip");
    QTest::addColumn<QString>("states"); // F found, M missing, V moved, per message
    QTest::addColumn<QList<int>>("unplanned");
    QTest::newRow("all there") << QList<int>{0x010, 0x019, 0x01D} << "FFF" << QList<int>{};
    QTest::newRow("empty chip") << QList<int>{} << "MMM" << QList<int>{};
    QTest::newRow("second moved") << QList<int>{0x010, 0x01B, 0x01D} << "FVF" << QList<int>{};
    QTest::newRow("one beyond") << QList<int>{0x010, 0x019, 0x01D, 0x040} << "FFF"
                                << QList<int>{0x040};
    QTest::newRow("only the last") << QList<int>{0x01D} << "MMF" << QList<int>{};
    QTest::newRow("sound effects") << QList<int>{0x000, 0x010} << "FMM" << QList<int>{0x000};
}

void TestPlanRun::checksAgainstTheMap() {
    QFETCH(QList<int>, chip);
    QFETCH(QString, states);
    QFETCH(QList<int>, unplanned);
    const Layout layout = threeMessages();
    const QList<MessageCheck> checks = checkMessages(layout, chip);
    QString got;
    for (const MessageCheck& c : checks)
        got += c.state == MessageCheck::State::Found     ? 'F'
               : c.state == MessageCheck::State::Missing ? 'M'
                                                         : 'V';
    QCOMPARE(got, states);
    QCOMPARE(unplannedStarts(layout, chip), unplanned);
    if (states.contains('V'))
        QCOMPARE(checks[states.indexOf('V')].chipStart, 0x01B);

    // The same as the rows' states and counts the window shows.
    const ChipComparison c = compareWithChip(layout, chip);
    QList<RowState> rows;
    for (const RowCheck& r : c.rows)
        rows << r.state;
    QCOMPARE(letters(rows), states);
    QCOMPARE(c.chipMessages, chip.size());
    QCOMPARE(c.found, states.count('F'));
    QCOMPARE(c.missing, states.count('M'));
    QCOMPARE(c.moved, states.count('V'));
    QCOMPARE(c.unplanned, unplanned);
    if (states.contains('V'))
        QCOMPARE(c.rows[states.indexOf('V')].chipStart, 0x01B);
}

void TestPlanRun::rowsAfterRecording_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("failedMessage");
    QTest::addColumn<QString>("during");
    QTest::addColumn<QString>("after");
    // Done and Mismatch: every row as the map scan found it (here: FVF).
    QTest::newRow("done") << int(Kind::Done) << 0 << "DDD"
                          << "FVF";
    QTest::newRow("mismatch") << int(Kind::Mismatch) << 0 << "-DD"
                              << "FVF";
    // A refused plan: the waiting rows back to none, the others as they were.
    QTest::newRow("refused") << int(Kind::PlanRefused) << 0 << "FWW"
                             << "F--";
    // A fault: the message it stopped at failed, those not done back to none.
    QTest::newRow("fault in 2") << int(Kind::Fault) << 2 << "DRW"
                                << "DX-";
    QTest::newRow("fault before any") << int(Kind::Fault) << 0 << "WWW"
                                      << "---";
    QTest::newRow("resumed, fault in 3") << int(Kind::Fault) << 3 << "MDR"
                                         << "MDX";
}

void TestPlanRun::rowsAfterRecording() {
    QFETCH(int, kind);
    QFETCH(int, failedMessage);
    QFETCH(QString, during);
    QFETCH(QString, after);
    ProgramOutcome outcome;
    outcome.kind = static_cast<Kind>(kind);
    outcome.failedMessage = failedMessage;
    const ChipComparison chip = compareWithChip(threeMessages(), {0x010, 0x01B, 0x01D});
    QList<RowState> rows = states(during);
    const QList<RowChange> changes = plan::rowsAfterRecording(rows, outcome, chip);
    for (const RowChange& c : changes) {
        QVERIFY(c.row >= 0 && c.row < rows.size());
        rows[c.row] = c.check.state;
    }
    QCOMPARE(letters(rows), after);
    // Rows that keep their state are not touched (a moved row keeps its chip start).
    if (outcome.kind == Kind::PlanRefused || outcome.kind == Kind::Fault)
        for (const RowChange& c : changes)
            QVERIFY(states(during)[c.row] == RowState::Waiting ||
                    states(during)[c.row] == RowState::Recording);
}

void TestPlanRun::clockText_data() {
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0:00";
    QTest::newRow("below a second") << qint64(999) << "0:00";
    QTest::newRow("a minute and more") << qint64(65432) << "1:05";
    QTest::newRow("negative") << qint64(-5) << "0:00";
    QTest::newRow("an hour") << qint64(3600000) << "60:00";
}

void TestPlanRun::clockText() {
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(plan::clockText(ms), text);
}

void TestPlanRun::portProblems_data() {
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("openFails"); // empty: the port opens
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("openCalls");
    using K = PlanRun::PortProblem::Kind;
    QTest::newRow("no number") << "COM"
                               << "" << int(K::BadNumber) << 0;
    QTest::newRow("empty") << ""
                           << "" << int(K::BadNumber) << 0;
    QTest::newRow("does not open") << "7"
                                   << "no device behind port 7" << int(K::NotOpened) << 1;
    QTest::newRow("opens") << "7"
                           << "" << int(K::None) << 1;
}

void TestPlanRun::portProblems() {
    QFETCH(QString, portText);
    QFETCH(QString, openFails);
    QFETCH(int, kind);
    QFETCH(int, openCalls);
    for (bool verify : {false, true}) {
        Rig rig;
        rig.port.failOpenWith = openFails;
        const bool opened =
            verify ? rig.run.prepareVerify(portText) : rig.run.prepareRecording(portText, 1, false);
        QCOMPARE(opened, kind == int(PlanRun::PortProblem::Kind::None));
        QCOMPARE(int(rig.run.portProblem().kind), kind);
        QCOMPARE(rig.port.openCalls, openCalls);
        QVERIFY(!rig.run.isRunning());
        if (kind == int(PlanRun::PortProblem::Kind::NotOpened)) {
            QCOMPARE(rig.run.portProblem().number, 7);
            QCOMPARE(rig.run.portProblem().reason, openFails);
        }
        // Nothing was marked for a run that did not start.
        QCOMPARE(letters(rig.rows), opened ? (verify ? "---" : "WWW") : "FFF");
        QCOMPARE(rig.port.isOpen(), opened);
    }
}

void TestPlanRun::missingOutputSendsNothing() {
    Rig rig;
    rig.audio.ready = false; // no sound output: the run ends before anything is sent
    QSignalSpy recorded(&rig.run, &PlanRun::recorded);
    QSignalSpy finished(&rig.run, &PlanRun::finished);
    QVERIFY(rig.run.prepareRecording("3", 2, false));
    QCOMPARE(letters(rig.rows), "FWW");
    rig.run.start();
    QCOMPARE(recorded.count(), 1);
    QCOMPARE(rig.run.outcome().kind, Kind::Fault);
    QVERIFY2(rig.run.outcome().error.contains("no sound server"),
             qPrintable(rig.run.outcome().error));
    QCOMPARE(letters(rig.rows), "F--");
    QCOMPARE(rig.run.resumeFrom(), 0);
    QCOMPARE(rig.run.remainingMs(), 0);
    QVERIFY(!rig.run.isRunning());
    QVERIFY(rig.port.written.isEmpty());
    // The port is closed once the engine's signal has returned.
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!rig.port.isOpen());
}

void TestPlanRun::lostDeviceEndsTheRun() {
    Rig rig;
    QSignalSpy finished(&rig.run, &PlanRun::finished);
    QVERIFY(rig.run.prepareRecording("3", 1, false));
    QSignalSpy started(&rig.run, &PlanRun::started);
    QSignalSpy current(&rig.run, &PlanRun::currentRowChanged);
    rig.run.start();
    QCOMPARE(started.count(), 1);
    QVERIFY(rig.run.isRunning());
    QVERIFY(rig.run.isRecording());
    // Three messages of 500 ms ahead, and the overhead of each.
    QCOMPARE(rig.run.remainingMs(), 3 * (500 + OverheadPerMessageMs));
    QCOMPARE(rig.run.planPermille(), std::optional<int>(0));
    rig.port.raise(CommEvent::DeviceLost);
    QVERIFY(!rig.run.isRunning());
    QCOMPARE(rig.run.outcome().kind, Kind::Fault);
    QVERIFY2(rig.run.outcome().error.contains("went away"), qPrintable(rig.run.outcome().error));
    QCOMPARE(letters(rig.rows), "---");
    QCOMPARE(current.count(), 1); // no row is being recorded any more
    QCOMPARE(current.last().at(0).toInt(), -1);
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!rig.port.isOpen());
}

QTEST_MAIN(TestPlanRun)
#include "tst_plan_run.moc"
