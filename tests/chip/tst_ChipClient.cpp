// The chip client's own logic on the fake port: ticks and the reply timer are driven by
// hand, the clock is a variable, nothing waits on real time.

#include "ClientRig.h"
#include "chip/Catalogue.h"
#include "chip/ChipClient.h"
#include "chip/ChipMap.h"

#include <QSignalSpy>
#include <QTest>
#include <map>

using namespace tamberlo;
using test::bytes;
using test::ClientRig;
using test::FakeSerialPort;
using test::Ms;
using Rig = ClientRig;

class TestChipClient : public QObject {
    Q_OBJECT
private slots:
    void decodesReplies_data();
    void decodesReplies();
    void pacesFramesAndReportsTheLastByte();
    void frameSentWaitsForTheLine_data();
    void frameSentWaitsForTheLine();
    void discardsStrayInputBeforeEachFrame();
    void surplusBytesNeverShiftTheNextReply();
    void timeoutNamesTheCommandAndGoesOn();
    void confirmation_data();
    void confirmation();
    void deviceLostFailsEverythingQueued();
    void stopGoesAheadOfQueuedWorkButNeverCutsAFrame();
    void closedPortFailsAtOnce();
    void cancelLetsAStartedFrameFinish();
    void replyTimerRunsOnlyFromTheLastByte_data();
    void replyTimerRunsOnlyFromTheLastByte();
    void lostDeviceIsRememberedUntilThePortOpensAgain();
    void nothingGoesOutAfterTheEnd_data();
    void nothingGoesOutAfterTheEnd();
    void parseRow_data();
    void parseRow();
    void mapsTheMessagesOfAScriptedChip_data();
    void mapsTheMessagesOfAScriptedChip();
};

void TestChipClient::decodesReplies_data() {
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("split"); // reply bytes per notification
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<int>("row");     // -1: no row in the status
    QTest::addColumn<int>("pointer"); // -1: none
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("addressRow");
    QTest::addColumn<QString>("activity");

    // SR0 low 0x24 = PU + A0; high 0x09: row (0x09 << 3) | 1 = 0x049.
    QTest::newRow("RD_PLAY_PTR") << int(Opcode::RD_PLAY_PTR) << bytes({0x24, 0x09, 0x01, 0x2F}) << 1
                                 << QStringList{"PU"} << 0x049 << 0x12F << "" << -1 << "";
    QTest::newRow("RD_REC_PTR, high byte masked to 11 bits")
        << int(Opcode::RD_REC_PTR) << bytes({0x15, 0x00, 0xFF, 0x40}) << 4
        << QStringList{"CMD_ERR", "PU", "INT"} << 0 << 0x740 << "" << -1 << "";
    QTest::newRow("DEVID ISD17240")
        << int(Opcode::DEVID) << bytes({0x06, 0x02, 0xE0}) << 2 << QStringList{"FULL", "PU"}
        << 0x010 << -1 << "ISD17240" << -1 << "";
    QTest::newRow("DEVID unknown") << int(Opcode::DEVID) << bytes({0x00, 0x00, 0xE1}) << 3
                                   << QStringList{} << 0 << -1 << "" << -1 << "";
    QTest::newRow("STOP low byte only") << int(Opcode::STOP) << bytes({0x0C}) << 1
                                        << QStringList{"PU", "EOM"} << -1 << -1 << "" << -1 << "";
    QTest::newRow("current address, playing")
        << int(Opcode::CurrentAddress) << bytes({0x01, 0xA0, 0x04}) << 1 << QStringList{} << -1
        << -1 << "" << 0x1A0 << "playing";
    QTest::newRow("SET_PLAY") << int(Opcode::SET_PLAY) << bytes({0x04, 0x02, 0x04, 0x02, 0x04}) << 2
                              << QStringList{"PU"} << 0x010 << -1 << "" << -1 << "";
}

void TestChipClient::decodesReplies() {
    QFETCH(int, opcode);
    QFETCH(QByteArray, reply);
    QFETCH(int, split);
    QFETCH(QStringList, flags);
    QFETCH(int, row);
    QFETCH(int, pointer);
    QFETCH(QString, model);
    QFETCH(int, addressRow);
    QFETCH(QString, activity);

    Rig rig;
    const auto op = static_cast<std::uint8_t>(opcode);
    std::vector<std::uint8_t> frame =
        op == Opcode::SET_PLAY ? rangeFrame(op, 0x10, 0x20) : singleFrame(op);
    rig.submit(frame);
    rig.sendUntil(static_cast<int>(frame.size()));
    QCOMPARE(rig.port.written.size(), qsizetype(frame.size()));
    QCOMPARE(replyLength(op), std::uint8_t(reply.size()));
    for (qsizetype i = 0; i < reply.size(); i += split) {
        QVERIFY(rig.results.empty());
        rig.port.inject(reply.mid(i, split));
    }
    QCOMPARE(rig.results.size(), std::size_t(1));
    const ChipResult& r = rig.results.front();
    QVERIFY2(r.ok(), qPrintable(r.errorText));
    QCOMPARE(r.reply.size(), std::size_t(reply.size()));
    const DecodedReply& d = r.decoded;
    if (addressRow >= 0) {
        QVERIFY(d.address);
        QCOMPARE(d.address->row, addressRow);
        QCOMPARE(d.address->activity(), activity);
        QVERIFY(!d.status);
        return;
    }
    QVERIFY(d.status);
    QCOMPARE(d.status->flagNames(), flags);
    QCOMPARE(d.status->row().has_value(), row >= 0);
    if (row >= 0)
        QCOMPARE(int(*d.status->row()), row);
    QCOMPARE(d.pointer.has_value(), pointer >= 0);
    if (pointer >= 0)
        QCOMPARE(int(*d.pointer), pointer);
    QCOMPARE(r.model ? r.model->nameText() : QString(), model);
    if (op == Opcode::DEVID)
        QCOMPARE(d.deviceId.value(), std::uint8_t(reply.at(2)));
}

void TestChipClient::pacesFramesAndReportsTheLastByte() {
    Rig rig;
    QSignalSpy sent(&rig.client, &ChipClient::frameSent);
    rig.submit(rangeFrame(Opcode::SET_REC, 0x010, 0x05F));
    rig.submit(singleFrame(Opcode::DEVID));

    // The first byte goes at once on an idle client; every further byte waits a tick.
    QCOMPARE(rig.port.written, bytes({0x81}));
    QCOMPARE(rig.client.paceTimer().interval(), ChipClient::PaceMs);
    const qint64 start = rig.clock;
    rig.sendUntil(5);
    QCOMPARE(rig.port.written, bytes({0x81, 0x00, 0x10, 0x00, 0x5F}));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).at(0).value<std::uint8_t>(), Opcode::SET_REC);
    QCOMPARE(sent.at(0).at(1).toLongLong(), start + 4 * ChipClient::PaceMs * Ms);
    QVERIFY(rig.client.replyTimer().isActive());
    QCOMPARE(rig.client.replyTimer().interval(), ChipClient::DefaultTimeoutMs);

    // DEVID waits for the SET_REC reply, then for 50 ms after the last byte written.
    rig.client.tick();
    QCOMPARE(rig.port.written.size(), 5);
    rig.clock += 10 * Ms;
    rig.port.inject(bytes({0x04, 0x02, 0x04, 0x02, 0x04}));
    QCOMPARE(rig.results.size(), std::size_t(1));
    QCOMPARE(rig.results[0].lastByteNs, start + 4 * ChipClient::PaceMs * Ms);
    QCOMPARE(rig.port.written.size(), 5);
    QVERIFY(rig.client.paceTimer().isActive());
    QCOMPARE(rig.client.paceTimer().interval(), 40);
    rig.client.tick();
    QCOMPARE(rig.port.written.size(), 6);
    rig.port.inject(bytes({0x04, 0x02, 0xA0}));
    QCOMPARE(rig.results.size(), std::size_t(2));
    QVERIFY(rig.client.isIdle());
}

void TestChipClient::frameSentWaitsForTheLine_data() {
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("sentAfterMs"); // -1: never announced
    QTest::newRow("out at once") << "nothing held" << 0;
    QTest::newRow("held 7 ms") << "line empties" << 7;
    QTest::newRow("the reply comes first") << "reply" << 3;
    QTest::newRow("held too long") << "held" << ChipClient::LineWaitMs;
    QTest::newRow("device lost") << "lost" << -1;
    QTest::newRow("run ended") << "end" << -1;
}

// frameSent is the moment the chip starts listening (the recording's audio starts there): not
// while the system still holds the last byte, never for a frame that will not arrive.
void TestChipClient::frameSentWaitsForTheLine() {
    QFETCH(QString, then);
    QFETCH(int, sentAfterMs);
    Rig rig;
    QSignalSpy sent(&rig.client, &ChipClient::frameSent);
    rig.port.unsent = then == "nothing held" ? 0 : 1;
    rig.submit(rangeFrame(Opcode::SET_REC, 0x010, 0x05F));
    rig.sendUntil(5);
    const qint64 lastByte = rig.clock;
    QCOMPARE(rig.client.lineTimer().isActive(), then != "nothing held");
    for (int ms = 1; ms <= ChipClient::LineWaitMs + 5 && sent.isEmpty(); ++ms) {
        rig.clock += Ms;
        if (then == "line empties" && ms == 7)
            rig.port.unsent = 0;
        if (then == "reply" && ms == 3) {
            rig.port.inject(bytes({0x04, 0x02, 0x04, 0x02, 0x04}));
            QCOMPARE(sent.size(), 1); // before the reply completes the command
            QCOMPARE(rig.results.size(), std::size_t(1));
            break;
        }
        if (then == "lost" && ms == 2)
            rig.port.raise(CommEvent::DeviceLost);
        if (then == "end" && ms == 2)
            rig.client.end();
        rig.client.lineTick();
    }
    if (sentAfterMs < 0) {
        QVERIFY(sent.isEmpty());
        QVERIFY(!rig.client.lineTimer().isActive());
        return;
    }
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).at(0).value<std::uint8_t>(), Opcode::SET_REC);
    QCOMPARE(sent.at(0).at(1).toLongLong(), lastByte + sentAfterMs * Ms);
    QVERIFY(!rig.client.lineTimer().isActive());
}

void TestChipClient::discardsStrayInputBeforeEachFrame() {
    Rig rig;
    rig.port.setReceiveThreshold(0); // noise sits in the buffer unseen
    rig.port.input = {0xEE, 0xEE};
    rig.port.setReceiveThreshold(1);
    QSignalSpy stray(&rig.client, &ChipClient::strayBytes);
    rig.submit(singleFrame(Opcode::RD_PLAY_PTR));
    QCOMPARE(rig.port.log.mid(0, 2), (QStringList{"discard-rx", "WRITE 06"}));
    QCOMPARE(stray.size(), 1);
    QCOMPARE(stray.at(0).at(0).toInt(), 2);
    rig.port.inject(bytes({0x04, 0x02, 0x00, 0x33}));
    QCOMPARE(rig.results.at(0).decoded.pointer.value(), std::uint16_t(0x033));
}

void TestChipClient::surplusBytesNeverShiftTheNextReply() {
    Rig rig;
    rig.submit(singleFrame(Opcode::DEVID));
    rig.submit(singleFrame(Opcode::RD_REC_PTR));
    // The reply and two surplus bytes in one notification, then a late byte on its own.
    rig.port.inject(bytes({0x04, 0x02, 0xA0, 0xEE, 0xEE}));
    rig.port.inject(bytes({0xEE}));
    rig.tick();
    QCOMPARE(rig.port.written, bytes({0x09, 0x08}));
    rig.port.inject(bytes({0x04, 0x02, 0x00, 0x50}));
    QCOMPARE(rig.results.size(), std::size_t(2));
    QCOMPARE(rig.results[0].model->nameText(), QString("ISD1760"));
    QCOMPARE(rig.results[1].decoded.pointer.value(), std::uint16_t(0x050));
    QCOMPARE(rig.results[1].decoded.status->flagNames(), QStringList{"PU"});
}

void TestChipClient::timeoutNamesTheCommandAndGoesOn() {
    Rig rig;
    rig.client.setTimeoutMs(250);
    rig.submit(singleFrame(Opcode::DEVID));
    rig.submit(singleFrame(Opcode::RD_PLAY_PTR));
    rig.port.inject(bytes({0x04})); // one byte of three
    QVERIFY(rig.client.replyTimer().isActive());
    QCOMPARE(rig.client.replyTimer().interval(), 250);
    rig.client.replyTimedOut();
    QCOMPARE(rig.results.size(), std::size_t(1));
    QCOMPARE(rig.results[0].error, ChipError::Timeout);
    QCOMPARE(rig.results[0].errorText,
             QString("no complete reply to DEVID (0x09) within 250 ms (1 of 3 bytes came)"));
    rig.tick();
    QCOMPARE(rig.port.written, bytes({0x09, 0x06}));
    rig.client.replyTimedOut();
    QCOMPARE(rig.results[1].errorText, QString("no reply to RD_PLAY_PTR (0x06) within 250 ms"));
    QVERIFY(rig.client.isIdle());
}

void TestChipClient::confirmation_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("ownReply");
    QTest::addColumn<int>("statusLow"); // SR0 low of the confirming DEVID read
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");

    QTest::newRow("ERASE refused")
        << bytes({0x42}) << QByteArray() << 0x05 << int(ChipError::Refused)
        << "the chip refused ERASE (0x42) (CMD_ERR)";
    QTest::newRow("ERASE done") << bytes({0x42}) << QByteArray() << 0x04 << int(ChipError::None)
                                << "";
    QTest::newRow("SET_ERASE refused after its own reply")
        << bytes({0x82, 0x00, 0x30, 0x00, 0x10}) << bytes({0x04, 0x02, 0x04, 0x02, 0x04}) << 0x05
        << int(ChipError::Refused) << "the chip refused SET_ERASE (0x82) (CMD_ERR)";
    QTest::newRow("REC done") << bytes({0x41}) << bytes({0x04}) << 0x04 << int(ChipError::None)
                              << "";
}

void TestChipClient::confirmation() {
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, ownReply);
    QFETCH(int, statusLow);
    QFETCH(int, error);
    QFETCH(QString, text);

    Rig rig;
    rig.submit(std::vector<std::uint8_t>(frame.begin(), frame.end()), true);
    rig.sendUntil(frame.size());
    if (!ownReply.isEmpty())
        rig.port.inject(ownReply);
    QVERIFY(rig.results.empty());
    rig.sendUntil(frame.size() + 1);
    QCOMPARE(rig.port.written, frame + bytes({0x09}));
    rig.port.inject(bytes({statusLow, 0x02, 0xA0}));
    QCOMPARE(rig.results.size(), std::size_t(1));
    const ChipResult& r = rig.results[0];
    QCOMPARE(int(r.error), error);
    QCOMPARE(r.errorText, text);
    QCOMPARE(r.confirmation->low, std::uint8_t(statusLow));
    QCOMPARE(r.reply.size(), std::size_t(ownReply.size()));
    QVERIFY(r.model);
}

void TestChipClient::deviceLostFailsEverythingQueued() {
    Rig rig;
    rig.submit(singleFrame(Opcode::DEVID));
    rig.submit(singleFrame(Opcode::PLAY));
    rig.port.close();
    rig.port.raise(CommEvent::DeviceLost);
    QCOMPARE(rig.results.size(), std::size_t(2));
    QCOMPARE(rig.results[0].error, ChipError::DeviceLost);
    QCOMPARE(rig.results[0].errorText, QString("DEVID (0x09): the device went away"));
    QCOMPARE(rig.results[1].error, ChipError::DeviceLost);
    QCOMPARE(rig.results[1].lastByteNs, qint64(-1));
    QVERIFY(!rig.client.replyTimer().isActive());
    QVERIFY(rig.client.isIdle());
}

void TestChipClient::stopGoesAheadOfQueuedWorkButNeverCutsAFrame() {
    Rig rig;
    rig.submit(rangeFrame(Opcode::SET_PLAY, 0x10, 0x20));
    rig.submit(singleFrame(Opcode::RD_PLAY_PTR));
    rig.tick(); // two bytes of SET_PLAY are out
    rig.client.stopNow([&](const ChipResult& r) { rig.results.push_back(r); });
    rig.sendUntil(5);
    QCOMPARE(rig.port.written, bytes({0x80, 0x00, 0x10, 0x00, 0x20}));
    rig.port.inject(bytes({0x04, 0x02, 0x04, 0x02, 0x04}));
    rig.tick();
    QCOMPARE(rig.port.written.back(), char(Opcode::STOP));
    rig.port.inject(bytes({0x04}));
    rig.tick();
    QCOMPARE(rig.port.written.back(), char(Opcode::RD_PLAY_PTR));
    QCOMPARE(rig.results.size(), std::size_t(2));
    QCOMPARE(rig.results[1].opcode, Opcode::STOP);
}

void TestChipClient::closedPortFailsAtOnce() {
    Rig rig;
    rig.port.close();
    rig.submit(singleFrame(Opcode::DEVID));
    QCOMPARE(rig.results.size(), std::size_t(1));
    QCOMPARE(rig.results[0].error, ChipError::PortClosed);
    QCOMPARE(rig.results[0].errorText, QString("DEVID (0x09): the port is not open"));
    QVERIFY(rig.port.written.isEmpty());
}

void TestChipClient::cancelLetsAStartedFrameFinish() {
    Rig rig;
    rig.submit(rangeFrame(Opcode::SET_ERASE, 0x10, 0x20));
    rig.submit(singleFrame(Opcode::DEVID));
    rig.client.cancelAll();
    QCOMPARE(rig.results.size(), std::size_t(1)); // the queued DEVID
    QCOMPARE(rig.results[0].opcode, Opcode::DEVID);
    rig.sendUntil(5);
    QCOMPARE(rig.port.written.size(), 5);
    QCOMPARE(rig.results.size(), std::size_t(2));
    QCOMPARE(rig.results[1].error, ChipError::Cancelled);
    QVERIFY(rig.client.isIdle());
}

void TestChipClient::replyTimerRunsOnlyFromTheLastByte_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("confirm");
    // Timeouts shorter than the frame (SET_REC takes 200 ms), shorter than a byte's pace,
    // and the default.
    QTest::newRow("the reply timer is not running while a frame is still going out")
        << bytes({0x81, 0x00, 0x10, 0x00, 0x5F}) << 100 << true;
    QTest::newRow("timeout shorter than a byte's pace")
        << bytes({0x81, 0x00, 0x10, 0x00, 0x5F}) << 20 << false;
    QTest::newRow("default timeout")
        << bytes({0x80, 0x00, 0x10, 0x00, 0x20}) << ChipClient::DefaultTimeoutMs << true;
    QTest::newRow("one byte, confirmed") << bytes({0x42}) << 30 << true;
}

void TestChipClient::replyTimerRunsOnlyFromTheLastByte() {
    QFETCH(QByteArray, frame);
    QFETCH(int, timeoutMs);
    QFETCH(bool, confirm);
    Rig rig;
    rig.client.setTimeoutMs(timeoutMs);
    // An earlier exchange left the reply timer's expiry due just as this frame starts.
    rig.submit(singleFrame(Opcode::DEVID));
    rig.port.inject(bytes({0x04, 0x02, 0xA0}));
    rig.submit(std::vector<std::uint8_t>(frame.begin(), frame.end()), confirm);
    for (int i = 0; i < 12 && rig.port.written.size() < 1 + frame.size(); ++i) {
        QVERIFY2(!rig.client.replyTimer().isActive(),
                 qPrintable(QStringLiteral("after %1 bytes").arg(rig.port.written.size())));
        rig.client.replyTimedOut(); // an expiry now changes nothing
        QCOMPARE(rig.results.size(), std::size_t(1));
        rig.tick();
    }
    QCOMPARE(rig.port.written, bytes({0x09}) + frame);
    if (replyLength(std::uint8_t(frame[0])) == 0) {
        // No reply of its own: the status read is next, the wait counts from its byte.
        QVERIFY(!rig.client.replyTimer().isActive());
        rig.tick();
        QCOMPARE(rig.port.written.back(), char(Opcode::DEVID));
    }
    // From the last byte on it runs, and its expiry ends the wait.
    QVERIFY(rig.client.replyTimer().isActive());
    QCOMPARE(rig.client.replyTimer().interval(), timeoutMs);
    if (replyLength(std::uint8_t(frame[0])) > 0 && confirm) {
        // The command's reply, then the status read: the timer stops for its pace and runs
        // again from its byte.
        rig.port.inject(QByteArray(replyLength(std::uint8_t(frame[0])), '\x04'));
        QVERIFY(!rig.client.replyTimer().isActive());
        rig.tick();
        QCOMPARE(rig.port.written.back(), char(Opcode::DEVID));
        QVERIFY(rig.client.replyTimer().isActive());
    }
    rig.client.replyTimedOut();
    QCOMPARE(rig.results.size(), std::size_t(2));
    QCOMPARE(rig.results[1].error, ChipError::Timeout);
    QVERIFY2(rig.results[1].errorText.contains(QStringLiteral("within %1 ms").arg(timeoutMs)),
             qPrintable(rig.results[1].errorText));
    QVERIFY(rig.client.isIdle());
}

void TestChipClient::lostDeviceIsRememberedUntilThePortOpensAgain() {
    Rig rig;
    QSignalSpy lost(&rig.client, &ChipClient::deviceLost);
    // Idle (a recording runs, a prompt plays): the loss is heard at once all the same.
    rig.port.close();
    rig.port.raise(CommEvent::DeviceLost);
    QCOMPARE(lost.size(), 1);
    QVERIFY(rig.client.isDeviceLost());
    // What comes later (the STOP at the file's end) says what happened, not "port closed".
    rig.client.stopNow([&](const ChipResult& r) { rig.results.push_back(r); });
    rig.submit(singleFrame(Opcode::DEVID));
    QCOMPARE(rig.results.size(), std::size_t(2));
    QCOMPARE(rig.results[0].error, ChipError::DeviceLost);
    QCOMPARE(rig.results[0].errorText, QString("STOP (0x02): the device went away"));
    QCOMPARE(rig.results[1].errorText, QString("DEVID (0x09): the device went away"));
    QVERIFY(rig.port.written.isEmpty());
    rig.port.raise(CommEvent::DeviceLost); // said once
    QCOMPARE(lost.size(), 1);

    rig.port.open();
    rig.submit(singleFrame(Opcode::DEVID));
    QCOMPARE(rig.port.written, bytes({0x09}));
    QVERIFY(!rig.client.isDeviceLost());
}

void TestChipClient::nothingGoesOutAfterTheEnd_data() {
    QTest::addColumn<int>("bytesOut"); // of SET_REC's five when the run ends
    QTest::newRow("before the frame") << 0;
    QTest::newRow("in the middle of SET_REC") << 2;
    QTest::newRow("awaiting SET_REC's reply") << 5;
}

void TestChipClient::nothingGoesOutAfterTheEnd() {
    QFETCH(int, bytesOut);
    Rig rig;
    rig.submit(singleFrame(Opcode::DEVID)); // in flight, so SET_REC waits
    if (bytesOut > 0) {
        rig.port.inject(bytes({0x04, 0x02, 0xA0}));
        rig.tick();
    }
    rig.submit(rangeFrame(Opcode::SET_REC, 0x010, 0x05F), true);
    rig.submit(singleFrame(Opcode::PLAY));
    rig.sendUntil(1 + bytesOut);
    QCOMPARE(rig.port.written.size(), qsizetype(1 + bytesOut));

    rig.client.end();
    QVERIFY(rig.client.hasEnded());
    QVERIFY(rig.client.isIdle());
    QVERIFY(!rig.client.paceTimer().isActive());
    QVERIFY(!rig.client.replyTimer().isActive());
    for (const ChipResult& r : rig.results) {
        if (r.opcode != Opcode::DEVID || bytesOut == 0)
            QCOMPARE(r.error, ChipError::Cancelled);
    }
    QCOMPARE(rig.results.size(), std::size_t(3));
    // A nested event loop later: ticks, expiries, replies, and a completion that submits
    // the next step. Nothing of it reaches the wire.
    rig.client.submit({singleFrame(Opcode::STOP)}, [&](const ChipResult& r) {
        rig.results.push_back(r);
        rig.submit(rangeFrame(Opcode::SET_REC, 0x060, 0x07F));
    });
    for (int i = 0; i < 10; ++i) {
        rig.tick();
        rig.client.replyTimedOut();
        rig.port.inject(bytes({0x04}));
    }
    QCOMPARE(rig.port.written.size(), qsizetype(1 + bytesOut));
    QCOMPARE(rig.results.size(), std::size_t(5));
    QCOMPARE(rig.results[3].error, ChipError::Cancelled);
    QCOMPARE(rig.results[3].errorText, QString("STOP (0x02): the run has ended"));
    QCOMPARE(rig.results[4].opcode, Opcode::SET_REC);
    QCOMPARE(rig.results[4].error, ChipError::Cancelled);
}

void TestChipClient::parseRow_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("model"); // "" for none
    QTest::addColumn<int>("row");       // -1: refused
    QTest::newRow("0x prefix") << "0x1A0"
                               << "" << 0x1A0;
    QTest::newRow("bare") << "1a0"
                          << "" << 0x1A0;
    QTest::newRow("panel form") << "01 A0"
                                << "" << 0x1A0;
    QTest::newRow("four digits") << "07FF"
                                 << "" << 0x7FF;
    QTest::newRow("past 11 bits") << "0x800"
                                  << "" << -1;
    QTest::newRow("past the model") << "0x1F0"
                                    << "ISD1760" << -1;
    QTest::newRow("last row of the model") << "1EF"
                                           << "ISD1760" << 0x1EF;
    QTest::newRow("ISD1720 last row") << "0x0B0"
                                      << "ISD1720" << -1;
    QTest::newRow("two spaces") << "01  A0"
                                << "" << -1;
    QTest::newRow("empty") << ""
                           << "" << -1;
    QTest::newRow("decimal word") << "ten"
                                  << "" << -1;
    QTest::newRow("sign") << "-10"
                          << "" << -1;
    QTest::newRow("bare 0x") << "0x"
                             << "" << -1;
}

void TestChipClient::parseRow() {
    QFETCH(QString, text);
    QFETCH(QString, model);
    QFETCH(int, row);
    const ChipModel* m = nullptr;
    for (const ChipModel& r : ChipModelTable) {
        if (QString::fromLatin1(r.name.data(), r.name.size()) == model)
            m = &r;
    }
    QString why;
    const std::optional<std::uint16_t> parsed = tamberlo::parseRow(text, m, &why);
    QCOMPARE(parsed.has_value(), row >= 0);
    if (row >= 0)
        QCOMPARE(int(*parsed), row);
    else
        QVERIFY(why.contains(QString("'%1'").arg(text)));
}

void TestChipClient::mapsTheMessagesOfAScriptedChip_data() {
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<int>("playPointer");
    QTest::addColumn<bool>("poweredUp");
    QTest::newRow("empty") << QList<int>{} << 0x010 << true;
    QTest::newRow("one") << QList<int>{0x010} << 0x010 << true;
    QTest::newRow("three, pointer on the newest, powered down")
        << QList<int>{0x010, 0x024, 0x0A0} << 0x0A0 << false;
    QTest::newRow("wrapped ring") << QList<int>{0x015, 0x1E0} << 0x1E0 << true;
    QTest::newRow("pointer between messages") << QList<int>{0x010, 0x050} << 0x030 << true;
}

void TestChipClient::mapsTheMessagesOfAScriptedChip() {
    QFETCH(QList<int>, starts);
    QFETCH(int, playPointer);
    QFETCH(bool, poweredUp);

    // A chip in a few lines: FWD moves to the next start, wrapping; CMD_ERR as it behaves.
    Rig rig;
    bool cmdErr = false;
    int pointer = playPointer;
    int handled = 0;
    const auto answer = [&] {
        while (handled < rig.port.written.size()) {
            const auto op = static_cast<std::uint8_t>(rig.port.written.at(handled++));
            const int low = (cmdErr ? 1 : 0) | (poweredUp ? 4 : 0);
            if (op == Opcode::DEVID)
                rig.port.inject(bytes({low, 0x02, 0xA0}));
            else if (op == Opcode::PU)
                poweredUp = true, cmdErr = false;
            else if (op == Opcode::CurrentAddress)
                rig.port.inject(bytes({0x00, 0x10, poweredUp ? 1 : 0}));
            else if (op == Opcode::RD_REC_PTR)
                rig.port.inject(bytes({low, 0x02, 0x00, 0x77}));
            else if (op == Opcode::RD_PLAY_PTR)
                rig.port.inject(bytes({low, 0x02, pointer >> 8, pointer & 0xFF}));
            else if (op == Opcode::FWD) {
                cmdErr = starts.isEmpty() || !poweredUp;
                if (!cmdErr) {
                    auto next = std::upper_bound(starts.begin(), starts.end(), pointer);
                    pointer = next != starts.end() ? *next : starts.front();
                }
            }
        }
    };
    ChipMapper mapper(rig.client);
    QSignalSpy finished(&mapper, &ChipMapper::finished);
    mapper.start();
    for (int i = 0; i < 200 && finished.isEmpty(); ++i) {
        answer();
        rig.tick();
    }
    QCOMPARE(finished.size(), 1);
    const MessageMap& map = mapper.map();
    QVERIFY2(map.ok(), qPrintable(map.errorText));
    QCOMPARE(QList<int>(map.starts.begin(), map.starts.end()), starts);
    QCOMPARE(map.recordPointer, std::uint16_t(0x077));
    QCOMPARE(map.model->nameText(), QString("ISD1760"));
    QCOMPARE(map.frames, rig.port.written.size());
    // One step per message when the pointer started on one (and it is back there), one more
    // to see the first come back otherwise.
    const bool onMessage = starts.contains(playPointer);
    const int steps = starts.isEmpty() ? 1 : int(starts.size()) + (onMessage ? 0 : 1);
    QCOMPARE(rig.port.written.count(char(Opcode::FWD)), steps);
    if (onMessage)
        QCOMPARE(pointer, playPointer);
}

QTEST_GUILESS_MAIN(TestChipClient)
#include "tst_ChipClient.moc"
