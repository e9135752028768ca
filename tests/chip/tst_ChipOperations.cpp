// The chip operations on the client rig: a chip in a few lines answers every one-byte
// command on the fake port; the pacing timer and the reply timer are driven by hand.

#include "ClientRig.h"
#include "chip/ChipOperations.h"

#include <QTest>
#include <functional>
#include <set>

using namespace tamberlo;
using test::bytes;
using test::ClientRig;

namespace {

// The chip: every byte written is a one-byte command, answered at once unless it is mute.
struct ScriptedChip {
    ClientRig rig;
    int erasingReads = 0;         // current-address reads that still say ERASE
    bool refuse = false;          // CMD_ERR in every status
    std::set<std::uint8_t> mute;  // commands that get no reply
    std::uint8_t lostAt = 0;      // the device goes away when this command is written
    QList<std::uint8_t> commands; // every command written
    qsizetype handled = 0;

    void answer() {
        while (handled < rig.port.written.size()) {
            const auto op = static_cast<std::uint8_t>(rig.port.written.at(handled++));
            commands << op;
            if (lostAt && op == lostAt) {
                rig.port.raise(CommEvent::DeviceLost);
                continue;
            }
            if (mute.count(op))
                continue;
            const int low = (refuse ? 0x01 : 0) | 0x04; // CMD_ERR, PU
            if (op == Opcode::DEVID)
                rig.port.inject(bytes({low, 0x02, 0xA0}));
            else if (op == Opcode::CurrentAddress)
                rig.port.inject(bytes({0x00, 0x30, erasingReads-- > 0 ? 0x02 : 0x01}));
            else if (op == Opcode::RD_PLAY_PTR)
                rig.port.inject(bytes({low, 0x02, 0x00, 0x24}));
            else if (op == Opcode::RD_REC_PTR)
                rig.port.inject(bytes({low, 0x02, 0x00, 0x77}));
        }
    }
    // Runs the client until `done` or nothing more happens: ticks, answers, and the reply
    // timer's expiry for a mute command.
    void runUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            rig.tick();
            answer();
            if (!done() && !mute.empty())
                rig.client.replyTimedOut();
            if (rig.client.isIdle() && handled == rig.port.written.size())
                break;
        }
    }
};

} // namespace

class TestChipOperations : public QObject {
    Q_OBJECT
private slots:
    void waitWhileErasing_data();
    void waitWhileErasing();
    void chainStopsAtTheFirstError_data();
    void chainStopsAtTheFirstError();
    void snapshotReadsEverything();
};

void TestChipOperations::waitWhileErasing_data() {
    QTest::addColumn<int>("erasingReads");
    QTest::addColumn<bool>("lost");         // the device goes away at the first read
    QTest::addColumn<int>("reads");         // current-address reads made
    QTest::addColumn<QString>("error");     // chipErrorName, "" for done
    QTest::addColumn<QString>("errorText"); // part of the error's text
    const int limit = ChipOperations::EraseWaitReads;
    QTest::newRow("not erasing: one read") << 0 << false << 1 << ""
                                           << "";
    QTest::newRow("erasing for three reads") << 3 << false << 4 << ""
                                             << "";
    QTest::newRow("done on the last read allowed") << limit - 1 << false << limit << ""
                                                   << "";
    QTest::newRow("still erasing at the limit")
        << limit << false << limit << "timeout"
        << QStringLiteral("still erasing after %1 reads").arg(limit);
    QTest::newRow("device lost while waiting") << 5 << true << 1 << "device lost"
                                               << "went away";
}

void TestChipOperations::waitWhileErasing() {
    QFETCH(int, erasingReads);
    QFETCH(bool, lost);
    QFETCH(int, reads);
    QFETCH(QString, error);
    QFETCH(QString, errorText);
    ScriptedChip chip;
    chip.erasingReads = erasingReads;
    if (lost)
        chip.lostAt = Opcode::CurrentAddress;
    std::optional<ChipResult> failed;
    std::optional<ChipResult> done;
    int failures = 0;
    ChipOperations ops(chip.rig.client, [&](const ChipResult& r) { failed = r, ++failures; });
    ops.waitWhileErasing([&](const ChipResult& r) { done = r; });
    chip.runUntil([&] { return failed || done; });

    QCOMPARE(int(chip.commands.count(Opcode::CurrentAddress)), reads);
    QCOMPARE(ops.frames(), reads);
    if (error.isEmpty()) {
        QVERIFY2(done && !failed, failed ? qPrintable(failed->errorText) : "neither");
        QVERIFY(!done->decoded.address->erasing());
        QCOMPARE(int(done->decoded.address->row), 0x030);
        return;
    }
    QVERIFY(failed && !done);
    QCOMPARE(failures, 1);
    QCOMPARE(chipErrorName(failed->error), error);
    QVERIFY2(failed->errorText.contains(errorText), qPrintable(failed->errorText));
    QVERIFY(ops.halted());
}

void TestChipOperations::chainStopsAtTheFirstError_data() {
    // The chain: DEVID, G_ERASE (confirmed by a status read), RD_PLAY_PTR, RD_REC_PTR.
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("ownHandler"); // G_ERASE with a failure handler of its own
    QTest::addColumn<int>("stepsRun");    // steps whose `next` ran
    QTest::addColumn<QString>("error");
    QTest::addColumn<QList<int>>("written");
    const QList<int> all{Opcode::DEVID, Opcode::G_ERASE, Opcode::DEVID, Opcode::RD_PLAY_PTR,
                         Opcode::RD_REC_PTR};
    QTest::newRow("all done") << "" << false << 4 << "" << all;
    QTest::newRow("no reply to the first step")
        << "mute DEVID" << false << 0 << "timeout" << QList<int>{Opcode::DEVID};
    QTest::newRow("refused: nothing after it")
        << "refuse" << false << 1 << "refused"
        << QList<int>{Opcode::DEVID, Opcode::G_ERASE, Opcode::DEVID};
    QTest::newRow("refused, own handler: the chain goes on")
        << "refuse" << true << 3 << "refused" << all;
    QTest::newRow("no reply to the last step")
        << "mute RD_REC_PTR" << false << 3 << "timeout" << all;
}

void TestChipOperations::chainStopsAtTheFirstError() {
    QFETCH(QString, how);
    QFETCH(bool, ownHandler);
    QFETCH(int, stepsRun);
    QFETCH(QString, error);
    QFETCH(QList<int>, written);
    ScriptedChip chip;
    if (how == "mute DEVID")
        chip.mute.insert(Opcode::DEVID);
    if (how == "mute RD_REC_PTR")
        chip.mute.insert(Opcode::RD_REC_PTR);
    int steps = 0;
    QStringList failures;
    bool finished = false;
    ChipOperations ops(chip.rig.client, [&](const ChipResult& r) {
        failures << chipErrorName(r.error);
        finished = true;
    });
    const auto last = [&](const ChipResult&) {
        ++steps;
        finished = true;
    };
    const auto third = [&](const ChipResult&) {
        ++steps;
        ops.submit(singleFrame(Opcode::RD_REC_PTR), false, last);
    };
    const auto second = [&](const ChipResult&) {
        ++steps;
        ops.submit(singleFrame(Opcode::RD_PLAY_PTR), false, third);
    };
    ops.submit(singleFrame(Opcode::DEVID), false, [&](const ChipResult&) {
        ++steps;
        // The chip refuses from here on when the row says so.
        chip.refuse = how == "refuse";
        if (ownHandler)
            ops.submit(singleFrame(Opcode::G_ERASE), true, second, [&](const ChipResult& r) {
                failures << chipErrorName(r.error);
                chip.refuse = false;
                ops.submit(singleFrame(Opcode::RD_PLAY_PTR), false, third);
            });
        else
            ops.submit(singleFrame(Opcode::G_ERASE), true, second);
    });
    chip.runUntil([&] { return finished; });
    // Results still to come after the end run nothing more.
    for (int i = 0; i < 5; ++i) {
        chip.rig.tick();
        chip.answer();
    }

    QCOMPARE(steps, stepsRun);
    QList<int> sent;
    for (std::uint8_t op : std::as_const(chip.commands))
        sent << op;
    QCOMPARE(sent, written);
    QCOMPARE(failures.size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QCOMPARE(failures.first(), error);
    QCOMPARE(ops.halted(), !error.isEmpty() && !ownHandler);
}

void TestChipOperations::snapshotReadsEverything() {
    ScriptedChip chip;
    chip.erasingReads = 1; // the snapshot says what it finds, erasing or not
    std::optional<ChipSnapshot> snapshot;
    ChipOperations ops(chip.rig.client,
                       [](const ChipResult& r) { QFAIL(qPrintable(r.errorText)); });
    ops.readSnapshot([&](const ChipSnapshot& s) { snapshot = s; });
    chip.runUntil([&] { return snapshot.has_value(); });
    QVERIFY(snapshot);
    QCOMPARE(chip.commands, (QList<std::uint8_t>{Opcode::DEVID, Opcode::RD_PLAY_PTR,
                                                 Opcode::RD_REC_PTR, Opcode::CurrentAddress}));
    QVERIFY(snapshot->model);
    QCOMPARE(snapshot->model->nameText(), QStringLiteral("ISD1760"));
    QCOMPARE(int(snapshot->deviceId), 0xA0);
    QVERIFY(snapshot->status.poweredUp());
    QCOMPARE(int(snapshot->playPointer), 0x024);
    QCOMPARE(int(snapshot->recordPointer), 0x077);
    QCOMPARE(int(snapshot->address.row), 0x030);
    QVERIFY(snapshot->address.erasing());
}

QTEST_GUILESS_MAIN(TestChipOperations)
#include "tst_ChipOperations.moc"
