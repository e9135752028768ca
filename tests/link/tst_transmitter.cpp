// The paced transmitter against the in-memory port: what each tick writes, restarts, refusals
// and a port that closes under a frame. Ticks are driven by hand.

#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "support/Fakes.h"

#include <QSignalSpy>
#include <QTest>

using namespace tamberlo;
using tamberlo::test::FakeSerialPort;

using Frame = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Frame)

namespace {

// What the port sees while a frame goes out: the receiver's clean slate before the first
// byte, then a discard of the transmit buffer before every write.
QStringList writesOf(const Frame& frame) {
    QStringList log;
    if (!frame.empty())
        log << QStringLiteral("discard-input");
    for (std::uint8_t byte : frame) {
        log << QStringLiteral("discard-tx");
        log << QStringLiteral("write %1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return log;
}

QByteArray bytesOf(const Frame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()),
                      static_cast<qsizetype>(frame.size()));
}

struct Link {
    FakeSerialPort port;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    QSignalSpy portClosed{&tx, &Transmitter::portClosed};
    QSignalSpy frameWritten{&tx, &Transmitter::frameWritten};
    QSignalSpy frameDropped{&tx, &Transmitter::frameDropped};

    explicit Link(bool open = true) {
        if (open)
            port.open();
    }
};

} // namespace

class TransmitterTest : public QObject {
    Q_OBJECT
private slots:
    void pacesOneBytePerTick_data();
    void pacesOneBytePerTick();
    void zeroCountStartsAndStopsOnFirstTick();
    void countBeyondFrameSendsOnlyTheFrame();
    void restartAfterOneTickReplacesFrame();
    void closedPortRefusesAndSaysSo();
    void ticksAfterCloseWriteNothing();
    void rebuiltSendBufDoesNotChangeFrameInFlight_data();
    void rebuiltSendBufDoesNotChangeFrameInFlight();
};

void TransmitterTest::pacesOneBytePerTick_data() {
    QTest::addColumn<Frame>("frame");
    QTest::newRow("1 byte, RD_PLAY_PTR") << Frame{0x06};
    QTest::newRow("3 bytes, WR_APC2") << Frame{0x65, 0x43, 0x04};
    QTest::newRow("5 bytes, SET_PLAY") << Frame{0x80, 0x00, 0x10, 0x00, 0x20};
}

void TransmitterTest::pacesOneBytePerTick() {
    QFETCH(Frame, frame);
    Link link;
    link.receiver.setRecvCnt(2); // stale count from an unanswered exchange
    link.receiver.setRecvIdx(9);
    link.receiver.setRecvExpect(4);
    link.tx.SendBuf = frame;
    link.tx.Isd_Comm2_Send(static_cast<std::uint8_t>(frame.size()));

    // Nothing leaves during the call; the 50 ms clock is running.
    QVERIFY(link.port.written.isEmpty());
    QVERIFY(link.tx.isSending());
    QCOMPARE(link.tx.Timer1().interval(), 50);
    QCOMPARE(link.tx.Timer1().timerType(), Qt::PreciseTimer);
    QCOMPARE(link.tx.CurCmd(), frame[0]);
    // Only the write index of the reply buffer is rewound.
    QCOMPARE(link.receiver.RecvIdx(), 0);
    QCOMPARE(link.receiver.RecvCnt(), 2);
    QCOMPARE(link.receiver.RecvExpect(), 4);

    for (std::size_t k = 0; k < frame.size(); ++k) {
        link.tx.tick();
        QCOMPARE(link.port.written, bytesOf(Frame(frame.begin(), frame.begin() + k + 1)));
        QVERIFY(link.tx.isSending());
        // Said once, by the tick that writes the last byte.
        QCOMPARE(link.frameWritten.size(), k + 1 == frame.size() ? 1 : 0);
        // The first byte gives the reply a clean slate: the stale count is gone.
        QCOMPARE(link.receiver.RecvCnt(), 0);
        QCOMPARE(link.receiver.RecvIdx(), 0);
    }
    // Tick n + 1 writes nothing and stops the clock.
    link.tx.tick();
    QVERIFY(!link.tx.isSending());
    QCOMPARE(link.tx.SendIdx(), 0);
    QCOMPARE(link.port.log, writesOf(frame)); // nothing else
    QCOMPARE(link.port.binaryModeCalls, static_cast<int>(frame.size()) + 1);
}

void TransmitterTest::zeroCountStartsAndStopsOnFirstTick() {
    Link link;
    link.tx.SendBuf = {0x09};
    link.tx.Isd_Comm2_Send(0);
    QCOMPARE(link.tx.CurCmd(), 0x09);
    QVERIFY(link.tx.isSending());
    link.tx.tick();
    QVERIFY(!link.tx.isSending());
    QVERIFY(link.port.written.isEmpty());
    QVERIFY(link.port.log.isEmpty());
}

void TransmitterTest::countBeyondFrameSendsOnlyTheFrame() {
    Link link;
    link.tx.SendBuf = {0x01};
    link.tx.Isd_Comm2_Send(5);
    link.tx.tick();
    link.tx.tick();
    QVERIFY(!link.tx.isSending());
    QCOMPARE(link.port.written, QByteArray("\x01", 1));
}

void TransmitterTest::restartAfterOneTickReplacesFrame() {
    Link link;
    const Frame first{0x80, 0x00, 0x10, 0x00, 0x20};
    const Frame second{0x82, 0x00, 0x30, 0x00, 0x40};
    link.tx.SendBuf = first;
    link.tx.Isd_Comm2_Send(5);
    link.tx.tick(); // 50 ms: byte 0 of the first frame

    // 60 ms: the next command names itself at once, but the bridge takes the bytes after an
    // opcode as its data, so the first frame's other four bytes go out before the new frame.
    link.tx.SendBuf = second;
    link.tx.Isd_Comm2_Send(5);
    QCOMPARE(link.tx.CurCmd(), 0x82);
    QCOMPARE(link.tx.SendIdx(), 0);
    QVERIFY(link.tx.isSending());
    // The clock starts again: the next byte is a full interval away.
    QVERIFY(link.tx.Timer1().remainingTime() > 25);

    for (int k = 0; k < 4; ++k)
        link.tx.tick();
    QCOMPARE(link.frameWritten.size(), 0); // the rest of the first frame is not the new one
    for (int k = 0; k < 6; ++k)
        link.tx.tick();
    QVERIFY(!link.tx.isSending());
    QCOMPARE(link.frameWritten.size(), 1);
    Frame expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    QCOMPARE(link.port.written, bytesOf(expected));
    // The clean slate comes with each frame's own first byte: what comes in until the new
    // opcode is out (the first frame's reply among it) is not the new command's reply.
    QCOMPARE(link.port.log, writesOf(first) + writesOf(second));

    // A frame none of which has gone out yet is simply replaced.
    link.port.written.clear();
    link.tx.SendBuf = first;
    link.tx.Isd_Comm2_Send(5);
    link.tx.SendBuf = {0x40};
    link.tx.Isd_Comm2_Send(1);
    for (int k = 0; k < 3 && link.tx.isSending(); ++k)
        link.tx.tick();
    QCOMPARE(link.port.written, QByteArray("\x40", 1));
}

void TransmitterTest::closedPortRefusesAndSaysSo() {
    Link link(false);
    link.receiver.setRecvCnt(3);
    link.receiver.setRecvIdx(7);
    link.tx.SendBuf = {0x06};
    link.tx.Isd_Comm2_Send(1);

    // The box that tells the operator is the panel's (tst_ChipCommands, buttonsWithPortClosed).
    QCOMPARE(link.portClosed.size(), 1);
    QVERIFY(!link.tx.isSending());
    QVERIFY(link.port.written.isEmpty());
    // What the call did before asking the port stands.
    QCOMPARE(link.tx.CurCmd(), 0x06);
    QCOMPARE(link.tx.SendCnt(), 1);
    QCOMPARE(link.receiver.RecvIdx(), 0);
    QCOMPARE(link.receiver.RecvCnt(), 3);
}

void TransmitterTest::ticksAfterCloseWriteNothing() {
    Link link;
    link.tx.SendBuf = {0x81, 0x00, 0x10, 0x00, 0x20};
    link.tx.Isd_Comm2_Send(5);
    link.tx.tick();
    link.tx.tick();
    link.port.close();
    link.tx.tick();
    QCOMPARE(link.frameDropped.size(), 1);
    QCOMPARE(link.frameWritten.size(), 0);
    QCOMPARE(link.port.written, QByteArray("\x81\x00", 2));
    QCOMPARE(link.port.binaryModeCalls, 2); // the closed port is not touched at all
    // The rest of the frame is dropped: the clock is off, so a port opened later gets nothing.
    QVERIFY(!link.tx.isSending());
    QCOMPARE(link.tx.SendIdx(), 0);
    QCOMPARE(link.portClosed.size(), 0);
}

void TransmitterTest::rebuiltSendBufDoesNotChangeFrameInFlight_data() {
    QTest::addColumn<Frame>("rebuilt");
    QTest::newRow("re-created, zero filled") << Frame(5, 0);
    QTest::newRow("re-created shorter") << Frame(1, 0);
    QTest::newRow("emptied") << Frame{};
}

void TransmitterTest::rebuiltSendBufDoesNotChangeFrameInFlight() {
    // A range command whose address texts are rejected re-creates SendBuf and sends nothing;
    // the frame already on its way goes out as it was handed over.
    QFETCH(Frame, rebuilt);
    Link link;
    const Frame frame{0x80, 0x01, 0x10, 0x02, 0x20};
    link.tx.SendBuf = frame;
    link.tx.Isd_Comm2_Send(5);
    link.tx.tick();
    link.tx.SendBuf = rebuilt;
    for (int k = 0; k < 5; ++k)
        link.tx.tick();
    QCOMPARE(link.port.written, bytesOf(frame));
    QCOMPARE(link.tx.CurCmd(), 0x80);
    QVERIFY(!link.tx.isSending());
}

QTEST_GUILESS_MAIN(TransmitterTest)
#include "tst_transmitter.moc"
