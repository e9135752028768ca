// The programmer's chip on the chip client and the fake port: the frames each step sends,
// SET_REC and SET_ERASE with their confirming status read (CMD_ERR there is a refusal),
// STOP's reply status read (FULL), the pointer read, and when `sent` runs. Ticks and the
// reply timer are driven by hand.
#include "chip/Catalogue.h"
#include "plan/ChipAdapter.h"
#include "support/FakePortClient.h"

#include <QTest>

using namespace tamberlo;
using namespace tamberlo::plan;
using Fault = ProgrammerChip::Fault;
using test::bytes;
using test::Ms;

namespace {

// The programmer's chip on the client, noting its result and when `sent` ran.
struct Rig : test::FakePortClient {
    ChipAdapter chip{client};
    std::optional<ProgrammerChip::Result> result;
    int sentAfter = -1; // bytes written when `sent` ran
};

} // namespace

class TestPlanChipAdapter : public QObject {
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
};

void TestPlanChipAdapter::steps_data() {
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("frame");        // the command's bytes
    QTest::addColumn<QByteArray>("ownReply");     // its reply; empty: none, or it never comes
    QTest::addColumn<QByteArray>("confirmReply"); // the DEVID read after it; empty: none
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("full");
    QTest::addColumn<int>("currentRow"); // the row in the reply's SR0 (range replies: 0)
    QTest::addColumn<int>("pointer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sentAfter"); // -1: the step has no `sent`

    const QByteArray setRec = bytes({0x81, 0x00, 0x10, 0x00, 0x18});
    const QByteArray rangeReply = bytes({0x04, 0x00, 0x04, 0x00, 0x04});
    QTest::newRow("SET_REC, then its confirming read")
        << "SET_REC" << setRec << rangeReply << bytes({0x04, 0x02, 0xA0}) << int(Fault::None)
        << false << 0 << -1 << "" << 5;
    QTest::newRow("SET_REC refused: CMD_ERR in the confirming read")
        << "SET_REC" << setRec << rangeReply << bytes({0x05, 0x02, 0xA0}) << int(Fault::Refused)
        << false << -1 << -1 << "the chip refused SET_REC (0x81) (CMD_ERR)" << 5;
    QTest::newRow("SET_REC with FULL before the recording")
        << "SET_REC" << setRec << rangeReply << bytes({0x06, 0x02, 0xA0}) << int(Fault::None)
        << true << 0 << -1 << "" << 5;
    const QByteArray setErase = bytes({0x82, 0x00, 0x19, 0x00, 0x21});
    QTest::newRow("SET_ERASE, then its confirming read")
        << "SET_ERASE" << setErase << rangeReply << bytes({0x04, 0x02, 0xA0}) << int(Fault::None)
        << false << 0 << -1 << "" << -1;
    QTest::newRow("SET_ERASE refused")
        << "SET_ERASE" << setErase << rangeReply << bytes({0x05, 0x02, 0xA0}) << int(Fault::Refused)
        << false << -1 << -1 << "the chip refused SET_ERASE (0x82)" << -1;
    QTest::newRow("STOP: its reply's status read")
        << "STOP" << bytes({0x02}) << bytes({0x04}) << QByteArray() << int(Fault::None) << false
        << -1 << -1 << "" << 1;
    QTest::newRow("STOP: FULL in its reply")
        << "STOP" << bytes({0x02}) << bytes({0x06}) << QByteArray() << int(Fault::None) << true
        << -1 << -1 << "" << 1;
    QTest::newRow("STOP: no reply")
        << "STOP" << bytes({0x02}) << QByteArray() << QByteArray() << int(Fault::Timeout) << false
        << -1 << -1 << "no reply to STOP (0x02)" << 1;
    // SR0 0x24 0x03: row 0x019 (A10..A3 = 3, A2..A0 = 1); the pointer 0x010.
    QTest::newRow("RD_REC_PTR: the current row and the pointer")
        << "RD_REC_PTR" << bytes({0x08}) << bytes({0x24, 0x03, 0x00, 0x10}) << QByteArray()
        << int(Fault::None) << false << 0x019 << 0x010 << "" << -1;
    QTest::newRow("G_ERASE refused")
        << "G_ERASE" << bytes({0x43}) << QByteArray() << bytes({0x05, 0x02, 0xA0})
        << int(Fault::Refused) << false << -1 << -1 << "the chip refused G_ERASE (0x43)" << -1;
}

void TestPlanChipAdapter::steps() {
    QFETCH(QString, step);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, ownReply);
    QFETCH(QByteArray, confirmReply);
    QFETCH(int, fault);
    QFETCH(bool, full);
    QFETCH(int, currentRow);
    QFETCH(int, pointer);
    QFETCH(QString, text);
    QFETCH(int, sentAfter);

    Rig rig;
    const auto done = [&rig](const ProgrammerChip::Result& r) { rig.result = r; };
    const auto sent = [&rig] { rig.sentAfter = static_cast<int>(rig.port.written.size()); };
    if (step == "SET_REC")
        rig.chip.setRecord(0x010, 0x018, sent, done);
    else if (step == "SET_ERASE")
        rig.chip.eraseRows(0x019, 0x021, done);
    else if (step == "STOP")
        rig.chip.stop(sent, done);
    else if (step == "RD_REC_PTR")
        rig.chip.readRecordPointer(done);
    else
        rig.chip.eraseAll(done);

    rig.sendUntil(frame.size());
    QCOMPARE(rig.port.written, frame);
    QCOMPARE(rig.sentAfter, sentAfter);
    if (ownReply.isEmpty() && confirmReply.isEmpty()) {
        rig.clock += 2000 * Ms;
        rig.client.replyTimedOut();
    } else {
        rig.port.inject(ownReply);
    }
    if (!confirmReply.isEmpty()) {
        QVERIFY(!rig.result); // the command is only done once its status has been read
        rig.sendUntil(frame.size() + 1);
        QCOMPARE(rig.port.written, frame + bytes({0x09}));
        rig.port.inject(confirmReply);
    }
    QVERIFY(rig.result);
    QCOMPARE(int(rig.result->fault), fault);
    QVERIFY2(rig.result->text.contains(text), qPrintable(rig.result->text));
    if (fault == int(Fault::None)) {
        QCOMPARE(rig.result->full, full);
        QCOMPARE(rig.result->hasStatus, true);
        QCOMPARE(rig.result->currentRow, currentRow);
        QCOMPARE(rig.result->pointer, pointer);
    }
    QCOMPARE(rig.port.written.size(), frame.size() + (confirmReply.isEmpty() ? 0 : 1));
}

QTEST_GUILESS_MAIN(TestPlanChipAdapter)
#include "tst_plan_chip_adapter.moc"
