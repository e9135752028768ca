// The programmer's steps and faults with a scripted chip and a scripted player: the test
// answers each command and moves the clock and the audio position itself.
#include "plan/Programmer.h"

#include <QtTest>
#include <deque>

using namespace tamberlo::plan;
using Fault = ProgrammerChip::Fault;
using Result = ProgrammerChip::Result;

namespace {

class ScriptedChip : public ProgrammerChip {
public:
    struct Call {
        QString what; // "PU", "DEVID", "G_ERASE", "STATUS", "SET_REC 0x010..0x018", "STOP", ...
        Done done;
        Sent sent;
    };
    void powerUp(Done d) override { push("PU", d); }
    void deviceId(Done d) override { push("DEVID", d); }
    void eraseAll(Done d) override { push("G_ERASE", d); }
    void readStatus(Done d) override { push("STATUS", d); }
    void setRecord(int start, int end, Sent s, Done d) override {
        push(QStringLiteral("SET_REC %1..%2").arg(rowText(start), rowText(end)), d, s);
    }
    void stop(Sent s, Done d) override { push("STOP", d, s); }
    void readRecordPointer(Done d) override { push("RD_REC_PTR", d); }
    void scanMessages(Done d) override { push("MAP", d); }
    int handOverLeadMs() const override { return 0; }

    // Answers the oldest command; its frame counts as sent first.
    QString answer(const Result& r = {}) {
        if (pending.empty())
            return QStringLiteral("(nothing pending)");
        Call c = pending.front();
        pending.pop_front();
        if (c.sent)
            c.sent();
        c.done(r);
        return c.what;
    }
    QString next() const { return pending.empty() ? QString() : pending.front().what; }

    std::deque<Call> pending;
    QStringList sent; // every command given, in order

private:
    void push(const QString& what, Done d, Sent s = {}) {
        sent << what;
        pending.push_back({what, std::move(d), std::move(s)});
    }
};

class ScriptedAudio : public RecordingAudio {
public:
    bool load(const QString& path, QString* why) override {
        loaded << path;
        position = 0;
        playing = false;
        if (path.contains("bad")) {
            *why = "cannot be played: broken";
            return false;
        }
        return true;
    }
    void start() override { playing = true; }
    void stop() override { playing = false; }
    bool outputReady(QString*) override { return true; }
    QString outputName() const override { return "scripted output"; }
    std::int64_t playedMs() const override { return position; }
    std::int64_t lengthMs() const override { return 1000; }
    bool finished() const override { return position >= 1000; }
    QString failure() const override { return {}; }
    QStringList loaded;
    std::int64_t position = 0;
    bool playing = false;
};

Result row(int currentRow) {
    Result r;
    r.currentRow = currentRow;
    return r;
}
Result id(int deviceId) {
    Result r;
    r.deviceId = deviceId;
    return r;
}
Result failed(Fault f, const QString& text) {
    Result r;
    r.fault = f;
    r.text = text;
    return r;
}

// Three messages of 1,000 ms: 9 rows each at 8 kHz.
Plan threeMessages(const QString& model = "auto") {
    Plan plan;
    plan.model = model;
    for (const char* n : {"one", "two", "three"})
        plan.messages.append({n, QString(n) + ".wav", "/p/" + QString(n) + ".wav", {}, {}});
    return plan;
}
QList<MeasuredFile> seconds(int n) {
    return QList<MeasuredFile>(n, MeasuredFile{1000, {}});
}

struct Rig {
    explicit Rig(Plan plan = threeMessages(), ProgramOptions options = {})
        : programmer(plan, seconds(static_cast<int>(plan.messages.size())), chip, audio, options) {
        programmer.setClock([this] { return clockUs; });
        QObject::connect(&programmer, &Programmer::finished,
                         [this](const ProgramOutcome& o) { outcome = o; });
    }
    // Plays the message whose SET_REC is pending: frame out, audio from 0 to its end.
    // Returns whether STOP was held back until the end.
    bool recordPending() {
        chip.answer(); // SET_REC: frame sent, audio started
        audio.position = 400;
        clockUs += 400000;
        programmer.watchTick();
        const bool heldBack = chip.next().isEmpty();
        audio.position = 1000;
        clockUs += 600000;
        programmer.watchTick();
        return heldBack && chip.next() == "STOP";
    }
    ScriptedChip chip;
    ScriptedAudio audio;
    Programmer programmer;
    std::int64_t clockUs = 1000000000;
    std::optional<ProgramOutcome> outcome;
};

} // namespace

class TestPlanProgrammer : public QObject {
    Q_OBJECT
private slots:
    void recordsEveryMessageAndChecksTheMap();
    void eraseOnlyWhenAsked();
    void resumesFromMessage();
    void refusesBeforeRecording_data();
    void refusesBeforeRecording();
    void faults_data();
    void faults();
    void stopRequested_data();
    void stopRequested();
};

void TestPlanProgrammer::recordsEveryMessageAndChecksTheMap() {
    Rig rig;
    rig.programmer.start();
    QCOMPARE(rig.chip.answer(), QStringLiteral("PU"));
    QCOMPARE(rig.chip.answer(id(0xA0)), QStringLiteral("DEVID"));
    const QStringList ranges{"SET_REC 0x010..0x018", "SET_REC 0x019..0x021",
                             "SET_REC 0x022..0x02A"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rig.chip.next(), ranges[i]);
        QVERIFY(!rig.audio.playing);
        QVERIFY2(rig.recordPending(), qPrintable(rig.chip.sent.join(", ")));
        QCOMPARE(rig.chip.answer(), QStringLiteral("STOP"));
        QVERIFY(!rig.audio.playing);
        QCOMPARE(rig.chip.answer(row(0x010 + 9 * i + 8)), QStringLiteral("RD_REC_PTR"));
    }
    Result map;
    map.starts = {0x010, 0x019, 0x022};
    QCOMPARE(rig.chip.answer(map), QStringLiteral("MAP"));
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->exitCode, 0);
    QCOMPARE(rig.outcome->complete, (QList<int>{1, 2, 3}));
    QCOMPARE(rig.outcome->timings.size(), 3);
    // The file's position 0 is when the frame went out; STOP at its end, here to the µs.
    QCOMPARE(rig.outcome->timings[0].startOffsetMs(), 0.0);
    QCOMPARE(rig.outcome->timings[0].stopOffsetMs(), 0.0);
    QCOMPARE(rig.outcome->timings[2].stoppedRow, 0x02A);
    QVERIFY(!rig.chip.sent.contains("G_ERASE"));
}

void TestPlanProgrammer::eraseOnlyWhenAsked() {
    Rig rig(threeMessages(), {.eraseFirst = true});
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(0xA0));
    QCOMPARE(rig.chip.answer(), QStringLiteral("G_ERASE"));
    // Busy: asked again after a while, not before.
    QCOMPARE(rig.chip.answer(), QStringLiteral("STATUS"));
    QVERIFY(rig.chip.next().isEmpty());
    QTRY_COMPARE(rig.chip.next(), QStringLiteral("STATUS"));
    Result ready;
    ready.ready = true;
    rig.chip.answer(ready);
    QCOMPARE(rig.chip.next(), QStringLiteral("SET_REC 0x010..0x018"));
}

void TestPlanProgrammer::resumesFromMessage() {
    Rig rig(threeMessages(), {.from = 3});
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(0xA0));
    QCOMPARE(rig.chip.next(), QStringLiteral("SET_REC 0x022..0x02A"));
    QCOMPARE(rig.audio.loaded, QStringList{"/p/three.wav"});
}

void TestPlanProgrammer::refusesBeforeRecording_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("deviceId");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("why");
    QTest::newRow("other model") << "ISD1750" << 0xA0 << 1 << 1
                                 << "the plan is for ISD1750, the chip is ISD1760";
    QTest::newRow("unknown chip") << "auto" << 0x13 << 1 << 3
                                  << "device ID 0x13 names no known model";
    QTest::newRow("from past the end")
        << "auto" << 0xA0 << 4 << 1 << "--from 4: the plan has messages 1 to 3";
}

void TestPlanProgrammer::refusesBeforeRecording() {
    QFETCH(QString, model);
    QFETCH(int, deviceId);
    QFETCH(int, from);
    QFETCH(int, exitCode);
    QFETCH(QString, why);
    Rig rig(threeMessages(model), {.from = from});
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(deviceId));
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->exitCode, exitCode);
    const QString text = rig.outcome->error + rig.outcome->problems.join("\n");
    QVERIFY2(text.contains(why), qPrintable(text));
    QCOMPARE(rig.chip.sent, (QStringList{"PU", "DEVID"}));
}

void TestPlanProgrammer::faults_data() {
    // The step at which the chip or the audio fails, counted in commands answered after
    // DEVID (each message: SET_REC, STOP, RD_REC_PTR), and how.
    QTest::addColumn<int>("failAt");
    // Fault, or -1: the confirmation shows a row outside, -2: the map differs, -3: Ctrl-C
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("message");
    QTest::addColumn<bool>("stopTried");
    QTest::addColumn<QString>("why");
    QTest::newRow("no reply to SET_REC") << 3 << int(Fault::NoReply) << 3 << 2 << true
                                         << "message 2 \"two\": SET_REC: refused / no reply";
    QTest::newRow("SET_REC refused, seen in STOP's reply")
        << 4 << int(Fault::Refused) << 4 << 2 << false << "message 2 \"two\": recording: refused";
    QTest::newRow("device gone at STOP")
        << 4 << int(Fault::DeviceGone) << 3 << 2 << false << "device gone";
    QTest::newRow("stopped outside the rows")
        << 5 << -1 << 3 << 2 << false
        << "stopped at row 0x100, outside the message's rows 0x019..0x021";
    QTest::newRow("interrupted while recording")
        << 3 << -3 << 3 << 2 << true << "message 2 \"two\": interrupted";
    QTest::newRow("map lacks a message")
        << 9 << -2 << 5 << 0 << false << "message 3 \"three\" planned at 0x022 is not in the chip";
}

void TestPlanProgrammer::faults() {
    QFETCH(int, failAt);
    QFETCH(int, fault);
    QFETCH(int, exitCode);
    QFETCH(int, message);
    QFETCH(bool, stopTried);
    QFETCH(QString, why);
    Rig rig;
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(0xA0));
    for (int step = 0; !rig.outcome && step < 12; ++step) {
        const QString next = rig.chip.next();
        const bool failHere = step == failAt;
        if (next.startsWith("SET_REC") && !failHere) {
            QVERIFY(rig.recordPending());
        } else if (failHere && fault == -3) {
            rig.chip.answer(); // SET_REC of message 2: the recording runs
            rig.programmer.interrupt("interrupted");
            break;
        } else if (failHere && fault >= 0) {
            rig.chip.answer(
                failed(Fault(fault), QStringLiteral("refused / no reply / device gone")));
            break;
        } else if (next == "RD_REC_PTR") {
            rig.chip.answer(row(failHere ? 0x100 : 0x010 + 9 * (step / 3) + 5));
            if (failHere)
                break;
        } else if (next == "MAP") {
            Result map;
            map.starts = {0x010, 0x019};
            rig.chip.answer(map);
        } else {
            rig.chip.answer();
        }
    }
    // A STOP tried after the fault is answered too.
    const bool triedStop = !rig.chip.pending.empty() && rig.chip.next() == "STOP";
    if (triedStop)
        rig.chip.answer(failed(Fault::NoReply, "again"));
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->exitCode, exitCode);
    QCOMPARE(triedStop, stopTried);
    QCOMPARE(rig.outcome->failedMessage, message);
    const QString text = rig.outcome->error + rig.outcome->mismatches.join("\n");
    QVERIFY2(text.contains(why), qPrintable(text));
    if (message > 0) {
        QVERIFY2(text.contains("complete: 1; resume with --from 2"), qPrintable(text));
        QCOMPARE(rig.outcome->complete, QList<int>{1});
    }
    QVERIFY(!rig.audio.playing);
    QVERIFY(!rig.chip.sent.contains("G_ERASE"));
}

void TestPlanProgrammer::stopRequested_data() {
    QTest::addColumn<QString>("when"); // what is going on when the operator stops
    QTest::addColumn<bool>("stopSent");
    QTest::addColumn<int>("message");
    QTest::addColumn<QList<int>>("complete");
    QTest::newRow("before the model is known") << "DEVID" << false << 0 << QList<int>{};
    QTest::newRow("reading message 1's pointer") << "RD_REC_PTR" << false << 1 << QList<int>{};
    QTest::newRow("while message 2 plays") << "playing" << true << 2 << QList<int>{1};
}

void TestPlanProgrammer::stopRequested() {
    QFETCH(QString, when);
    QFETCH(bool, stopSent);
    QFETCH(int, message);
    QFETCH(QList<int>, complete);
    Rig rig;
    rig.programmer.start();
    rig.chip.answer(); // PU
    if (when != "DEVID") {
        rig.chip.answer(id(0xA0));
        QVERIFY(rig.recordPending());
        rig.chip.answer(); // STOP
        if (when != "RD_REC_PTR") {
            rig.chip.answer(row(0x015));
            rig.chip.answer(); // message 2's SET_REC: the audio plays
            rig.audio.position = 400;
            rig.clockUs += 400000;
            rig.programmer.watchTick();
        }
    }
    const int before = static_cast<int>(rig.chip.sent.size());
    rig.programmer.interrupt("stopped by the operator");
    QCOMPARE(rig.chip.sent.size() > before, stopSent);
    if (stopSent) {
        QCOMPARE(rig.chip.sent.last(), QStringLiteral("STOP"));
        QVERIFY(!rig.outcome); // finished once STOP is answered
        while (!rig.chip.pending.empty())
            rig.chip.answer();
    }
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->kind, ProgramOutcome::Kind::Fault);
    QCOMPARE(rig.outcome->failedMessage, message);
    QCOMPARE(rig.outcome->complete, complete);
    QVERIFY2(rig.outcome->error.contains("stopped by the operator"),
             qPrintable(rig.outcome->error));
    QVERIFY(!rig.audio.playing);
    // Replies still on their way change nothing and start nothing.
    const QStringList sent = rig.chip.sent;
    while (!rig.chip.pending.empty())
        rig.chip.answer(row(0x015));
    QCOMPARE(rig.chip.sent, sent);
    QCOMPARE(rig.outcome->complete, complete);
}

QTEST_GUILESS_MAIN(TestPlanProgrammer)
#include "tst_plan_programmer.moc"
