// The programmer's steps and faults with a scripted chip and a scripted player: the test
// answers each command and moves the clock and the audio position itself.
#include "PlanFakes.h"
#include "plan/Programmer.h"

#include <QtTest>
#include <deque>

using namespace tamberlo::plan;
using tamberlo::test::ScriptedAudio;
using Fault = ProgrammerChip::Fault;
using Result = ProgrammerChip::Result;
using Cause = ProgramOutcome::Cause;

namespace {

class ScriptedChip : public ProgrammerChip {
public:
    struct Call {
        QString what; // "PU", "DEVID", "G_ERASE", "WAIT_READY", "SET_REC 0x010..0x018", "STOP", ...
        Done done;
        Sent sent;
    };
    void powerUp(Done d) override { push("PU", d); }
    void deviceId(Done d) override { push("DEVID", d); }
    void eraseAll(Done d) override { push("G_ERASE", d); }
    void eraseRows(int start, int end, Done d) override {
        push(QStringLiteral("SET_ERASE %1..%2").arg(rowText(start), rowText(end)), d);
    }
    void waitUntilReady(Done d) override { push("WAIT_READY", d); }
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
    plan.marginMs = 100;
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

Q_DECLARE_METATYPE(tamberlo::plan::ProgramOutcome::Cause)

class TestPlanProgrammer : public QObject {
    Q_OBJECT
private slots:
    void recordsEveryMessageAndChecksTheMap();
    void erasesOnlyWhatItRecords_data();
    void erasesOnlyWhatItRecords();
    void refusesBeforeRecording_data();
    void refusesBeforeRecording();
    void faults_data();
    void faults();
    void stopRequested_data();
    void stopRequested();
    void failedRecordingIsErasedAndMadeAgain_data();
    void failedRecordingIsErasedAndMadeAgain();
    void stopLeavesAfterTheLastSample();
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
        // Message 3's chip reports the next free row: it used all its rows, which is noted.
        QCOMPARE(rig.chip.answer(row(0x010 + 9 * i + (i == 2 ? 9 : 8))),
                 QStringLiteral("RD_REC_PTR"));
    }
    Result map;
    map.starts = {0x010, 0x019, 0x022};
    QCOMPARE(rig.chip.answer(map), QStringLiteral("MAP"));
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->cause, Cause::None);
    QCOMPARE(rig.outcome->complete, (QList<int>{1, 2, 3}));
    QCOMPARE(rig.outcome->timings.size(), 3);
    // The file's position 0 is when the frame went out; STOP at its end, here to the µs.
    QCOMPARE(rig.outcome->timings[0].startOffsetMs(), 0.0);
    QCOMPARE(rig.outcome->timings[0].stopOffsetMs(), 0.0);
    QCOMPARE(rig.outcome->timings[1].stoppedRow, 0x021);
    QCOMPARE(rig.outcome->timings[2].stoppedRow, 0x02B);
    QVERIFY(!rig.outcome->timings[1].usedAllRows);
    QVERIFY(rig.outcome->timings[2].usedAllRows);
    QCOMPARE(rig.outcome->notes.size(), 1);
    QVERIFY2(rig.outcome->notes[0].contains("message 3 \"three\" used all its rows 0x022..0x02A"),
             qPrintable(rig.outcome->notes[0]));
    QVERIFY(!rig.chip.sent.contains("G_ERASE"));
    QVERIFY(!rig.chip.sent.contains("SET_ERASE 0x010..0x018"));
}

void TestPlanProgrammer::erasesOnlyWhatItRecords_data() {
    QTest::addColumn<bool>("eraseFirst");
    QTest::addColumn<int>("from");
    // Commands between DEVID and the first SET_REC, each erase followed by status reads.
    QTest::addColumn<QStringList>("erases");
    QTest::addColumn<QString>("firstRecording");
    QTest::newRow("from 1, nothing asked") << false << 1 << QStringList{} << "SET_REC 0x010..0x018";
    QTest::newRow("from 1, erase first: the whole chip")
        << true << 1 << QStringList{"G_ERASE"} << "SET_REC 0x010..0x018";
    QTest::newRow("resume: the interrupted message's rows")
        << false << 3 << QStringList{"SET_ERASE 0x022..0x02A"} << "SET_REC 0x022..0x02A";
    QTest::newRow("resume with erase first: messages 2 onwards, 1 kept")
        << true << 2 << QStringList{"SET_ERASE 0x019..0x021", "SET_ERASE 0x022..0x02A"}
        << "SET_REC 0x019..0x021";
}

void TestPlanProgrammer::erasesOnlyWhatItRecords() {
    QFETCH(bool, eraseFirst);
    QFETCH(int, from);
    QFETCH(QStringList, erases);
    QFETCH(QString, firstRecording);
    Rig rig(threeMessages(), {.eraseFirst = eraseFirst, .from = from});
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(0xA0));
    for (const QString& erase : erases) {
        QCOMPARE(rig.chip.answer(), erase);
        // Nothing is recorded until the chip has finished erasing (the chip operations read
        // its status until then).
        QVERIFY(rig.audio.loaded.isEmpty());
        QCOMPARE(rig.chip.next(), QStringLiteral("WAIT_READY"));
        Result ready;
        ready.ready = true;
        rig.chip.answer(ready);
    }
    QCOMPARE(rig.chip.next(), firstRecording);
    QCOMPARE(rig.audio.loaded.size(), 1);
    QVERIFY(rig.audio.loaded[0].endsWith(from == 1   ? "one.wav"
                                         : from == 2 ? "two.wav"
                                                     : "three.wav"));
    QCOMPARE(rig.chip.sent.contains("G_ERASE"), eraseFirst && from == 1);
}

void TestPlanProgrammer::refusesBeforeRecording_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("deviceId");
    QTest::addColumn<int>("from");
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("why");
    QTest::addColumn<bool>("outputReady");
    QTest::addColumn<int>("lengthMs"); // the file's length when its turn comes
    QTest::newRow("other model") << "ISD1750" << 0xA0 << 1 << Cause::Plan
                                 << "the plan is for ISD1750, the chip is ISD1760" << true << 1000;
    QTest::newRow("unknown chip") << "auto" << 0x13 << 1 << Cause::UnknownChip
                                  << "device ID 0x13 names no known model" << true << 1000;
    QTest::newRow("from past the end") << "auto" << 0xA0 << 4 << Cause::Plan
                                       << "--from 4: the plan has messages 1 to 3" << true << 1000;
    QTest::newRow("no working output: nothing sent")
        << "auto" << 0xA0 << 1 << Cause::Audio
        << "the audio could not be played whole: no working output (no sound server)" << false
        << 1000;
    QTest::newRow("file replaced after planning: longer than its rows")
        << "auto" << 0xA0 << 1 << Cause::Plan
        << "message 1 \"one\": one.wav is now 3.00 s long, planned 1.00 s: with the 100 ms "
           "margin it needs 25 rows, its rows 0x010..0x018 are 9"
        << true << 3000;
}

void TestPlanProgrammer::refusesBeforeRecording() {
    QFETCH(QString, model);
    QFETCH(int, deviceId);
    QFETCH(int, from);
    QFETCH(Cause, cause);
    QFETCH(QString, why);
    QFETCH(bool, outputReady);
    QFETCH(int, lengthMs);
    Rig rig(threeMessages(model), {.from = from});
    rig.audio.ready = outputReady;
    rig.audio.length = lengthMs;
    rig.programmer.start();
    if (outputReady) {
        rig.chip.answer();
        rig.chip.answer(id(deviceId));
    }
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->cause, cause);
    const QString text = rig.outcome->error + rig.outcome->problems.join("\n");
    QVERIFY2(text.contains(why), qPrintable(text));
    QCOMPARE(rig.chip.sent, outputReady ? QStringList({"PU", "DEVID"}) : QStringList());
    QVERIFY(!rig.audio.playing);
}

void TestPlanProgrammer::faults_data() {
    // The step at which the chip or the audio fails, counted in commands answered after
    // DEVID (each message: SET_REC, STOP, RD_REC_PTR), and how.
    QTest::addColumn<int>("failAt");
    // Fault, or -1: the confirmation shows a row outside, -2: the map differs, -3: Ctrl-C
    QTest::addColumn<int>("fault");
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<int>("message");
    QTest::addColumn<bool>("stopTried");
    QTest::addColumn<QString>("why");
    QTest::addColumn<int>("pointer"); // the row RD_REC_PTR reports at failAt (-1 faults)
    QTest::newRow("no reply to SET_REC") << 3 << int(Fault::Timeout) << Cause::Timeout << 2 << true
                                         << "message 2 \"two\": SET_REC: refused / no reply" << 0;
    QTest::newRow("SET_REC refused, seen in STOP's reply")
        << 4 << int(Fault::Refused) << Cause::Refused << 2 << false
        << "message 2 \"two\": recording: refused" << 0;
    QTest::newRow("device gone at STOP")
        << 4 << int(Fault::DeviceLost) << Cause::DeviceLost << 2 << false << "device gone" << 0;
    // A chip that ignored the range differs from the plan.
    QTest::newRow("stopped outside the rows")
        << 5 << -1 << Cause::Differs << 2 << false
        << "stopped at row 0x100, outside the message's rows 0x019..0x021" << 0x100;
    QTest::newRow("record pointer below the message's start")
        << 5 << -1 << Cause::Differs << 2 << false
        << "stopped at row 0x018, outside the message's rows 0x019..0x021" << 0x018;
    QTest::newRow("record pointer two rows past the end")
        << 5 << -1 << Cause::Differs << 2 << false
        << "stopped at row 0x023, outside the message's rows 0x019..0x021" << 0x023;
    QTest::newRow("interrupted while recording")
        << 3 << -3 << Cause::Interrupted << 2 << true << "message 2 \"two\": interrupted" << 0;
    QTest::newRow("map lacks a message")
        << 9 << -2 << Cause::Differs << 0 << false
        << "message 3 \"three\" planned at 0x022 is not in the chip" << 0;
}

void TestPlanProgrammer::faults() {
    QFETCH(int, failAt);
    QFETCH(int, fault);
    QFETCH(Cause, cause);
    QFETCH(int, message);
    QFETCH(bool, stopTried);
    QFETCH(QString, why);
    QFETCH(int, pointer);
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
            rig.chip.answer(row(failHere ? pointer : 0x010 + 9 * (step / 3) + 5));
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
        rig.chip.answer(failed(Fault::Timeout, "again"));
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->cause, cause);
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
    QTest::addColumn<bool>("deviceLost"); // the board went away rather than the operator
    QTest::newRow("before the model is known") << "DEVID" << false << 0 << QList<int>{} << false;
    QTest::newRow("reading message 1's pointer")
        << "RD_REC_PTR" << false << 1 << QList<int>{} << false;
    QTest::newRow("while message 2 plays") << "playing" << true << 2 << QList<int>{1} << false;
    // Noticed at once, not at the file's end; no STOP is tried on a port that is gone.
    QTest::newRow("device lost while message 2 plays")
        << "playing" << false << 2 << QList<int>{1} << true;
}

void TestPlanProgrammer::stopRequested() {
    QFETCH(QString, when);
    QFETCH(bool, stopSent);
    QFETCH(int, message);
    QFETCH(QList<int>, complete);
    QFETCH(bool, deviceLost);
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
    const QString why = deviceLost ? "the device went away" : "stopped by the operator";
    if (deviceLost)
        rig.programmer.deviceLost(why);
    else
        rig.programmer.interrupt(why);
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
    QVERIFY2(rig.outcome->error.contains(why), qPrintable(rig.outcome->error));
    QCOMPARE(rig.outcome->cause, deviceLost ? Cause::DeviceLost : Cause::Interrupted);
    QVERIFY(!rig.audio.playing);
    // Replies still on their way change nothing and start nothing.
    const QStringList sent = rig.chip.sent;
    while (!rig.chip.pending.empty())
        rig.chip.answer(row(0x015));
    QCOMPARE(rig.chip.sent, sent);
    QCOMPARE(rig.outcome->complete, complete);
}

void TestPlanProgrammer::failedRecordingIsErasedAndMadeAgain_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("twice");
    QTest::addColumn<Cause>("cause");
    QTest::addColumn<QString>("why");
    const QString audio = "message 1 \"one\": the audio could not be played whole: one.wav on "
                          "scripted output: ";
    const QStringList hows{"output fails", "ended early", "did not start", "fell behind",
                           "never ends",   "FULL",        "ran past"};
    const QStringList whys{audio + "the output starved",
                           audio + "the player ended it after 500",
                           audio + "nothing came out of the output within 3 s",
                           audio + "the output fell behind: 400 of 1000 ms had come out",
                           audio + "the output did not say it had played the end within 1000 ms",
                           "message 1 \"one\": the chip reported FULL in STOP's reply",
                           "the chip stopped at their end and the file's end is cut"};
    const QList<Cause> causes{Cause::Audio, Cause::Audio,   Cause::Audio,  Cause::Audio,
                              Cause::Audio, Cause::Differs, Cause::Differs};
    for (qsizetype i = 0; i < hows.size(); ++i) {
        QTest::addRow("%s, then whole", qPrintable(hows[i]))
            << hows[i] << false << Cause::None << whys[i];
        QTest::addRow("%s twice", qPrintable(hows[i])) << hows[i] << true << causes[i] << whys[i];
    }
}

void TestPlanProgrammer::failedRecordingIsErasedAndMadeAgain() {
    QFETCH(QString, how);
    QFETCH(bool, twice);
    QFETCH(Cause, cause);
    QFETCH(QString, why);
    Rig rig;
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(0xA0));
    // One recording of message 1 that goes wrong as `how` says.
    const auto failOnce = [&] {
        rig.audio.ended.reset();
        rig.audio.failing.clear();
        QCOMPARE(rig.chip.answer(), QStringLiteral("SET_REC 0x010..0x018"));
        QVERIFY(rig.audio.playing);
        if (how == "output fails") {
            rig.audio.position = 300;
            rig.clockUs += 300000;
            rig.audio.failing = "the output starved";
        } else if (how == "ended early") {
            rig.audio.position = 500;
            rig.clockUs += 500000;
            rig.audio.ended = true;
        } else if (how == "did not start") {
            rig.clockUs += 3100000;
        } else if (how == "fell behind") {
            rig.audio.position = 300; // from the frame on, then only 100 ms more in 700
            rig.clockUs += 300000;
            rig.programmer.watchTick();
            QVERIFY(rig.chip.next().isEmpty());
            rig.audio.position = 400;
            rig.clockUs += 700000;
        } else if (how == "never ends") { // the whole length, but never the word that it is out
            rig.audio.ended = false;
            rig.audio.position = 990;
            rig.clockUs += 990000;
            rig.programmer.watchTick();
            QVERIFY(rig.chip.next().isEmpty());
            rig.clockUs += 1010000;
        } else if (how == "FULL") {
            rig.audio.position = 1000;
            rig.clockUs += 1000000;
        } else { // 1,200 ms of sound delay and file: the rows hold 1,125 ms
            rig.audio.position = 1000;
            rig.clockUs += 1200000;
        }
        rig.programmer.watchTick();
        QCOMPARE(rig.chip.next(), QStringLiteral("STOP"));
        Result stop;
        stop.full = how == "FULL";
        rig.chip.answer(stop);
        QVERIFY(!rig.audio.playing);
    };
    failOnce();
    QVERIFY(!rig.outcome);
    // Its rows erased and the erase waited for, then the same rows once more.
    QCOMPARE(rig.chip.answer(), QStringLiteral("SET_ERASE 0x010..0x018"));
    Result ready;
    ready.ready = true;
    QCOMPARE(rig.chip.answer(ready), QStringLiteral("WAIT_READY"));
    if (twice) {
        failOnce();
        QVERIFY(rig.outcome);
        QCOMPARE(rig.outcome->cause, cause);
        QVERIFY2(rig.outcome->error.contains(why), qPrintable(rig.outcome->error));
        QVERIFY2(rig.outcome->error.contains("no message is complete; resume with --from 1"),
                 qPrintable(rig.outcome->error));
        QCOMPARE(rig.chip.sent.count("SET_REC 0x010..0x018"), 2);
        QVERIFY(rig.chip.pending.empty());
        return;
    }
    rig.audio.ended.reset();
    rig.audio.failing.clear();
    QVERIFY(rig.recordPending());
    rig.chip.answer(); // STOP
    rig.chip.answer(row(0x017));
    QCOMPARE(rig.chip.next(), QStringLiteral("SET_REC 0x019..0x021"));
    QCOMPARE(rig.audio.loaded.size(), 3);
    QCOMPARE(rig.chip.sent.count("SET_REC 0x010..0x018"), 2);
    QCOMPARE(rig.chip.sent.count("SET_ERASE 0x010..0x018"), 1);
    QVERIFY(!rig.outcome);
}

void TestPlanProgrammer::stopLeavesAfterTheLastSample() {
    // The sound comes out 150 ms after the frame; the position then reports what has come
    // out. STOP is handed over when the last sample has: not at the file's length after the
    // frame, not later because a position report went stale.
    Rig rig;
    rig.audio.length = 900; // 150 ms of delay and the file fit the 1,125 ms of 9 rows
    rig.programmer.start();
    rig.chip.answer();
    rig.chip.answer(id(0xA0));
    const std::int64_t frameUs = rig.clockUs;
    rig.chip.answer(); // SET_REC
    const auto at = [&](std::int64_t ms, std::int64_t position) {
        rig.clockUs = frameUs + ms * 1000;
        rig.audio.position = position;
        rig.programmer.watchTick();
        return rig.chip.next() == "STOP";
    };
    rig.audio.ended = true; // the previous file's end, still reported: not believed
    QVERIFY(!at(20, 1300));
    rig.audio.ended = false;
    QVERIFY(!at(100, 0));
    QVERIFY(!at(550, 400));
    QVERIFY(!at(900, 750));  // the file's length after the frame: 150 ms of it still to come
    QVERIFY(!at(1040, 880)); // a late report: the first sample is still taken at 150 ms
    QVERIFY(!at(1044, 880)); // stale
    // The expected end, the report stale: STOP waits for the output's word, which may come
    // late on a sink that plays in blocks, never before the sound is out.
    QVERIFY(!at(1050, 880));
    rig.audio.ended = true;
    QVERIFY(at(1052, 880)); // the output says the last sample is out: STOP now
    rig.audio.ended.reset();
    QCOMPARE(rig.chip.answer(), QStringLiteral("STOP"));
    rig.chip.answer(row(0x018));
    QVERIFY(rig.chip.next().startsWith("SET_REC 0x019"));
    // The player's word that the last sample is out stops at once, whatever the position.
    rig.chip.answer();
    const std::int64_t second = rig.clockUs;
    rig.clockUs = second + 600000;
    rig.audio.position = 450;
    rig.programmer.watchTick();
    rig.clockUs = second + 1100000;
    rig.audio.position = 890;
    rig.audio.ended = true;
    rig.programmer.watchTick();
    QCOMPARE(rig.chip.next(), QStringLiteral("STOP"));
    rig.chip.answer();
    rig.chip.answer(row(0x020));
    rig.audio.ended.reset();
    // The output tells when the last sample will be out: STOP leaves at that moment, though
    // the position lags and the output has not yet said it finished.
    rig.chip.answer();
    const std::int64_t third = rig.clockUs;
    rig.clockUs = third + 1098000;
    rig.audio.position = 880;
    rig.audio.lastOutUs = third + 1101000;
    rig.programmer.watchTick();
    QVERIFY(rig.chip.next().isEmpty());
    rig.clockUs = third + 1101000;
    rig.programmer.watchTick();
    QCOMPARE(rig.chip.next(), QStringLiteral("STOP"));
    rig.chip.answer();
    rig.chip.answer(row(0x029));
    Result map;
    map.starts = {0x010, 0x019, 0x022};
    rig.chip.answer(map);
    QVERIFY(rig.outcome);
    QCOMPARE(rig.outcome->cause, Cause::None);
    const MessageTiming& t = rig.outcome->timings[0];
    QCOMPARE(t.startOffsetMs(), 150.0);
    QCOMPARE(t.stopOffsetMs(), 0.0);
    QCOMPARE((t.stopSentUs - t.frameSentUs) / 1000, std::int64_t(1052));
    QVERIFY(rig.outcome->timings[1].stopOffsetMs() >= 0.0);
    QCOMPARE(rig.outcome->timings[2].stopOffsetMs(), 0.0);
    QCOMPARE(rig.outcome->timings[2].audioEndUs - third, std::int64_t(1101000));
}

QTEST_GUILESS_MAIN(TestPlanProgrammer)
#include "tst_plan_programmer.moc"
