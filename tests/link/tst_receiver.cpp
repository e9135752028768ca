// The reply receiver against the in-memory port: counting, draining, the exact match with
// RecvExpect, the action after the notification and the rewind after the action, the clean
// slate at each frame's first byte, and counts that run past 255.

#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "support/Fakes.h"

#include <QTest>

using namespace tamberlo;
using tamberlo::test::FakeMessageBoxes;
using tamberlo::test::FakeSerialPort;
using tamberlo::test::runQueued;

namespace {

// Remembers the receive threshold in force at every read.
class WatchedPort : public FakeSerialPort {
public:
    std::uint8_t read() override {
        thresholdsWhileReading << receiveThreshold();
        return FakeSerialPort::read();
    }
    QList<int> thresholdsWhileReading;
};

struct Seen {
    int count = -1;
    int index = -1;
    QByteArray buffer; // RecvBuf[0 .. RecvIdx)
    int command = -1;  // CurCmd
};

struct Rx {
    WatchedPort port;
    FakeMessageBoxes boxes;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    QList<Seen> actions;

    Rx() {
        port.open();
        receiver.setReplyAction([this] {
            Seen seen;
            seen.count = receiver.RecvCnt();
            seen.index = receiver.RecvIdx();
            seen.buffer = QByteArray(reinterpret_cast<const char*>(receiver.RecvBuf.data()),
                                     receiver.RecvIdx());
            seen.command = tx.CurCmd();
            actions << seen;
        });
    }
    // A command handler's part: the reply length, then the frame; then ticks until it is out.
    void command(std::vector<std::uint8_t> frame, std::uint8_t expect) {
        receiver.setRecvExpect(expect);
        tx.SendBuf = std::move(frame);
        tx.Isd_Comm2_Send(static_cast<std::uint8_t>(tx.SendBuf.size()));
    }
    void sendOut() {
        while (tx.isSending())
            tx.tick();
    }
};

enum class Stale { ShortReply, StrayByteAfterOpen, ByteBeforeFirstByte, BytesNotYetRead };
enum class DuringBox { StrayBytes, NewFrameReplyPartlyIn, StopReply };

} // namespace

class ReceiverTest : public QObject {
    Q_OBJECT
private slots:
    void completesOnExactCount_data();
    void completesOnExactCount();
    void drainsWithNotificationsOff();
    void surplusInSameNotificationNeverMatches();
    void eachFrameStartsWithACleanSlate_data();
    void eachFrameStartsWithACleanSlate();
    void dueActionRunsBeforeTheNextCommand();
    void droppedActionDoesNotCostTheNextReply_data();
    void droppedActionDoesNotCostTheNextReply();
    void otherKindsAreIgnored_data();
    void otherKindsAreIgnored();
    void thousandBytesAtOnceWrapInsideBuffer();
    void thousandBytesOneByOneWrapAndRewind();
    void bytesWhileTheActionsBoxIsOpen_data();
    void bytesWhileTheActionsBoxIsOpen();
    void commandWithoutActionStillRewinds();
};

void ReceiverTest::completesOnExactCount_data() {
    QTest::addColumn<QList<int>>("groups");
    QTest::addColumn<QList<int>>("countsAfter");
    QTest::newRow("one byte per notification") << QList<int>{1, 1, 1, 1} << QList<int>{1, 2, 3, 4};
    QTest::newRow("all four at once") << QList<int>{4} << QList<int>{4};
    QTest::newRow("two and two") << QList<int>{2, 2} << QList<int>{2, 4};
    QTest::newRow("three and one") << QList<int>{3, 1} << QList<int>{3, 4};
}

void ReceiverTest::completesOnExactCount() {
    // The reply to RD_PLAY_PTR: four bytes, the pointer in bytes 2 and 3.
    QFETCH(QList<int>, groups);
    QFETCH(QList<int>, countsAfter);
    const QByteArray reply("\x00\x00\x01\x2F", 4);
    Rx rx;
    rx.receiver.setRecvExpect(4);

    qsizetype at = 0;
    for (int i = 0; i < groups.size(); ++i) {
        rx.port.inject(reply.mid(at, groups[i]));
        at += groups[i];
        QCOMPARE(int(rx.receiver.RecvCnt()), countsAfter[i]);
    }
    // The action runs once the notification has returned, not inside it.
    QVERIFY(rx.actions.isEmpty());
    QVERIFY(rx.receiver.isActionDue());
    runQueued();
    QCOMPARE(rx.actions.size(), 1);
    // The action saw the whole reply before the rewind ...
    QCOMPARE(rx.actions[0].count, 4);
    QCOMPARE(rx.actions[0].index, 4);
    QCOMPARE(rx.actions[0].buffer, reply);
    // ... and afterwards the counters are back at 0, the buffer keeps the bytes.
    QCOMPARE(int(rx.receiver.RecvCnt()), 0);
    QCOMPARE(int(rx.receiver.RecvIdx()), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(rx.receiver.RecvBuf.data()), 4), reply);
}

void ReceiverTest::drainsWithNotificationsOff() {
    Rx rx;
    rx.receiver.setRecvExpect(3);
    // Two bytes come in while the first one is being read: stored, but not counted.
    rx.port.arriveDuringDrain = QByteArray("\x22\x33", 2);
    rx.port.inject(QByteArray("\x11", 1));

    QCOMPARE(int(rx.receiver.RecvCnt()), 1);
    QCOMPARE(int(rx.receiver.RecvIdx()), 3);
    QCOMPARE(rx.receiver.RecvBuf[1], 0x22);
    QCOMPARE(rx.receiver.RecvBuf[2], 0x33);
    QVERIFY(rx.actions.isEmpty());
    QCOMPARE(rx.port.thresholdsWhileReading, (QList<int>{0, 0, 0}));
    QCOMPARE(rx.port.receiveThreshold(), 1);
    QCOMPARE(rx.port.log, QStringList{QStringLiteral("discard-rx")});
    QVERIFY(rx.port.input.empty());
}

void ReceiverTest::surplusInSameNotificationNeverMatches() {
    Rx rx;
    rx.receiver.setRecvExpect(4);
    rx.port.inject(QByteArray("\x00\x00\x01\x2F\x55", 5));
    QCOMPARE(int(rx.receiver.RecvCnt()), 5);
    rx.port.inject(QByteArray("\x66", 1));
    QCOMPARE(int(rx.receiver.RecvCnt()), 6);
    QVERIFY(rx.actions.isEmpty());
}

void ReceiverTest::eachFrameStartsWithACleanSlate_data() {
    QTest::addColumn<Stale>("stale");
    QTest::newRow("count left by a reply that stopped short") << Stale::ShortReply;
    QTest::newRow("stray byte right after the port opened") << Stale::StrayByteAfterOpen;
    QTest::newRow("byte between the click and the first byte") << Stale::ByteBeforeFirstByte;
    QTest::newRow("bytes received but not yet read") << Stale::BytesNotYetRead;
}

void ReceiverTest::eachFrameStartsWithACleanSlate() {
    // STOP does not clear RecvCnt; whatever came in before its frame started must not shift the
    // count of its one-byte reply.
    QFETCH(Stale, stale);
    Rx rx;
    switch (stale) {
    case Stale::ShortReply:
        rx.command({0x06}, 4);
        rx.sendOut();
        rx.port.inject(QByteArray("\x00", 1));
        rx.command({0x02}, 1);
        break;
    case Stale::StrayByteAfterOpen:
        rx.port.inject(QByteArray("\xFF", 1));
        rx.command({0x02}, 1);
        break;
    case Stale::ByteBeforeFirstByte:
        rx.command({0x02}, 1);
        // Counted, but it completes nothing: it is not the reply to a frame not yet sent.
        rx.port.inject(QByteArray("\x7E", 1));
        QCOMPARE(int(rx.receiver.RecvCnt()), 1);
        break;
    case Stale::BytesNotYetRead:
        rx.command({0x02}, 1);
        rx.port.input.push_back(0x55); // no notification yet
        break;
    }
    runQueued();
    QVERIFY(rx.actions.isEmpty());
    QVERIFY(rx.receiver.isAwaitingFrame());

    rx.port.log.clear();
    rx.tx.tick();
    // The input is thrown away just before the opcode goes out, and the counters start at 0.
    QCOMPARE(rx.port.log, (QStringList{"discard-input", "discard-tx", "WRITE 02"}));
    QVERIFY(rx.port.input.empty());
    QCOMPARE(int(rx.receiver.RecvCnt()), 0);
    QCOMPARE(int(rx.receiver.RecvIdx()), 0);
    QVERIFY(!rx.receiver.isAwaitingFrame());

    rx.port.inject(QByteArray("\x00", 1));
    runQueued();
    QCOMPARE(rx.actions.size(), 1);
    QCOMPARE(rx.actions[0].command, 0x02);
    QCOMPARE(rx.actions[0].buffer, QByteArray("\x00", 1));
    QCOMPARE(int(rx.receiver.RecvCnt()), 0);
    // The rest of the frame (here: the stopping tick) clears nothing more.
    rx.port.inject(QByteArray("\x00", 1));
    rx.sendOut();
    QCOMPARE(int(rx.receiver.RecvCnt()), 1);
}

void ReceiverTest::dueActionRunsBeforeTheNextCommand() {
    // A pointer reply is complete, but before its action got its turn the operator gives the
    // next command: the action runs first, for the command it was the reply to.
    Rx rx;
    rx.command({0x06}, 4);
    rx.sendOut();
    rx.port.inject(QByteArray("\x00\x00\x01\x2F", 4));
    QVERIFY(rx.actions.isEmpty());
    rx.command({0x08}, 4);
    QCOMPARE(rx.actions.size(), 1);
    QCOMPARE(rx.actions[0].command, 0x06);
    QCOMPARE(rx.actions[0].buffer, QByteArray("\x00\x00\x01\x2F", 4));
    runQueued(); // and it does not run a second time
    QCOMPARE(rx.actions.size(), 1);
    QCOMPARE(int(rx.tx.CurCmd()), 0x08);
}

void ReceiverTest::droppedActionDoesNotCostTheNextReply_data() {
    QTest::addColumn<bool>("staleTurnFirst"); // the dropped action's turn comes before the reply
    QTest::newRow("a queued reply action dropped by a clean slate does not cost the next reply")
        << true;
    QTest::newRow("the next reply is complete before the dropped action's turn") << false;
}

void ReceiverTest::droppedActionDoesNotCostTheNextReply() {
    // A reply is complete and its action waits for its turn; then a clean slate (the port
    // opened again) drops it. The next command's reply must still be recognised, once, and
    // acted on for that command; the dropped action never runs.
    QFETCH(bool, staleTurnFirst);
    Rx rx;
    rx.command({0x06}, 4);
    rx.sendOut();
    rx.port.inject(QByteArray("\x00\x00\x01\x2F", 4));
    QVERIFY(rx.receiver.isActionDue());
    rx.receiver.startAfresh();
    QVERIFY(!rx.receiver.isActionDue());
    if (staleTurnFirst)
        runQueued();

    rx.command({0x09}, 3);
    rx.sendOut();
    rx.port.inject(QByteArray("\x04\x02\xA0", 3));
    runQueued();
    QCOMPARE(rx.actions.size(), 1);
    QCOMPARE(rx.actions[0].command, 0x09);
    QCOMPARE(rx.actions[0].buffer, QByteArray("\x04\x02\xA0", 3));
    QCOMPARE(int(rx.receiver.RecvCnt()), 0);
    QCOMPARE(int(rx.receiver.RecvIdx()), 0);
    QVERIFY(!rx.receiver.isActionDue());

    // And the one after it too.
    rx.command({0x08}, 4);
    rx.sendOut();
    rx.port.inject(QByteArray("\x04\x02\x00\x40", 4));
    runQueued();
    QCOMPARE(rx.actions.size(), 2);
    QCOMPARE(rx.actions[1].command, 0x08);
}

void ReceiverTest::otherKindsAreIgnored_data() {
    QTest::addColumn<CommEvent>("kind");
    QTest::newRow("error") << CommEvent::Error;
    QTest::newRow("device lost") << CommEvent::DeviceLost;
}

void ReceiverTest::otherKindsAreIgnored() {
    QFETCH(CommEvent, kind);
    Rx rx;
    rx.receiver.setRecvExpect(0); // would match a count of 0 at once if the kind were not checked
    rx.receiver.setRecvCnt(2);
    rx.receiver.setRecvIdx(2);
    for (std::uint8_t b : {0x01, 0x02, 0x03})
        rx.port.input.push_back(b);
    rx.port.raise(kind);
    QCOMPARE(int(rx.receiver.RecvCnt()), 2);
    QCOMPARE(int(rx.receiver.RecvIdx()), 2);
    QCOMPARE(rx.port.input.size(), std::size_t(3));
    QCOMPARE(rx.port.binaryModeCalls, 0);
    QVERIFY(rx.port.log.isEmpty());
    QVERIFY(rx.actions.isEmpty());
}

void ReceiverTest::thousandBytesAtOnceWrapInsideBuffer() {
    Rx rx;
    rx.receiver.setRecvExpect(4);
    for (std::size_t i = 256; i < Receiver::BufferSize; ++i)
        rx.receiver.RecvBuf[i] = 0xEE;
    QByteArray junk;
    for (int i = 0; i < 1000; ++i)
        junk.append(char(i % 251));
    rx.port.inject(junk);

    // Both counters wrap modulo 256; the writes cycle through RecvBuf[0..255].
    QCOMPARE(int(rx.receiver.RecvCnt()), 1000 % 256);
    QCOMPARE(int(rx.receiver.RecvIdx()), 1000 % 256);
    QVERIFY(rx.actions.isEmpty());
    for (int i = 0; i < 256; ++i) {
        const int lastWrite = i < 1000 % 256 ? 768 + i : 512 + i;
        QCOMPARE(int(rx.receiver.RecvBuf[i]), lastWrite % 251);
    }
    for (std::size_t i = 256; i < Receiver::BufferSize; ++i)
        QCOMPARE(rx.receiver.RecvBuf[i], 0xEE);
}

void ReceiverTest::thousandBytesOneByOneWrapAndRewind() {
    // Before any command RecvExpect is 0: each time the wrapping count comes round to 0 it
    // matches, and the receiver rewinds (CurCmd 0 has no action of its own).
    Rx rx;
    for (int i = 0; i < 1000; ++i) {
        rx.port.inject(QByteArray(1, char(0xA5)));
        runQueued();
    }
    QCOMPARE(rx.actions.size(), 3); // after bytes 256, 512 and 768
    for (const Seen& seen : std::as_const(rx.actions)) {
        QCOMPARE(seen.count, 0);
        QCOMPARE(seen.index, 0);
    }
    QCOMPARE(int(rx.receiver.RecvCnt()), 1000 - 768);
    QCOMPARE(int(rx.receiver.RecvIdx()), 1000 - 768);
}

void ReceiverTest::bytesWhileTheActionsBoxIsOpen_data() {
    QTest::addColumn<DuringBox>("during");
    QTest::newRow("stray bytes") << DuringBox::StrayBytes;
    QTest::newRow("a new frame's reply, partly in") << DuringBox::NewFrameReplyPartlyIn;
    QTest::newRow("the reply to a STOP sent meanwhile") << DuringBox::StopReply;
}

void ReceiverTest::bytesWhileTheActionsBoxIsOpen() {
    // The SET_PLAY reply's action opens a modal box. While it is open the window's event loop
    // delivers notifications: bytes are read and counted, a frame may start and its reply be
    // recognised. After the box the rewind follows, unless a frame started meanwhile: then the
    // bytes counted since belong to that frame and stay.
    QFETCH(DuringBox, during);
    Rx rx;
    FakeMessageBoxes boxes;
    int countWhileBoxOpen = -1;
    int actionsWhileBoxOpen = -1;
    boxes.onShow = [&](const FakeMessageBoxes::Box&) {
        switch (during) {
        case DuringBox::StrayBytes:
            rx.port.inject(QByteArray("\x77\x88", 2));
            break;
        case DuringBox::NewFrameReplyPartlyIn:
            rx.receiver.setRecvCnt(0); // a read command clears the count
            rx.command({0x06}, 4);
            rx.tx.tick();
            rx.port.inject(QByteArray("\x00\x00", 2));
            break;
        case DuringBox::StopReply:
            rx.command({0x02}, 1);
            rx.tx.tick();
            rx.port.inject(QByteArray("\x00", 1));
            break;
        }
        runQueued();
        countWhileBoxOpen = rx.receiver.RecvCnt();
        actionsWhileBoxOpen = int(rx.actions.size());
    };
    rx.receiver.setReplyAction([&] {
        Seen seen;
        seen.count = rx.receiver.RecvCnt();
        seen.command = rx.tx.CurCmd();
        rx.actions << seen;
        if (seen.command == 0x80)
            boxes.show(QStringLiteral("00 00 10 00 20 "), QString(), MessageIcon::Information);
    });
    rx.command({0x80, 0x00, 0x10, 0x00, 0x20}, 5);
    rx.sendOut();
    rx.port.inject(QByteArray("\x00\x00\x10\x00\x20", 5));
    runQueued();

    QCOMPARE(boxes.boxes.size(), 1);
    switch (during) {
    case DuringBox::StrayBytes:
        QCOMPARE(countWhileBoxOpen, 7);
        QCOMPARE(actionsWhileBoxOpen, 1);
        QCOMPARE(rx.receiver.RecvBuf[5], 0x77);
        QCOMPARE(rx.receiver.RecvBuf[6], 0x88);
        QCOMPARE(int(rx.receiver.RecvCnt()), 0);
        QCOMPARE(int(rx.receiver.RecvIdx()), 0);
        break;
    case DuringBox::NewFrameReplyPartlyIn:
        QCOMPARE(countWhileBoxOpen, 2);
        QCOMPARE(int(rx.receiver.RecvCnt()), 2); // not thrown away by the box's rewind
        QCOMPARE(int(rx.receiver.RecvIdx()), 2);
        rx.port.inject(QByteArray("\x01\x2F", 2));
        runQueued();
        QCOMPARE(rx.actions.size(), 2);
        QCOMPARE(rx.actions[1].command, 0x06);
        QCOMPARE(rx.actions[1].count, 4);
        QCOMPARE(rx.receiver.RecvBuf[2], 0x01);
        QCOMPARE(rx.receiver.RecvBuf[3], 0x2F);
        break;
    case DuringBox::StopReply:
        QCOMPARE(actionsWhileBoxOpen, 2); // recognised while the box was still open
        QCOMPARE(rx.actions[1].command, 0x02);
        QCOMPARE(rx.actions[1].count, 1);
        QCOMPARE(int(rx.receiver.RecvCnt()), 0);
        QCOMPARE(int(rx.receiver.RecvIdx()), 0);
        break;
    }
    QCOMPARE(rx.actions[0].command, 0x80);
    QCOMPARE(rx.actions[0].count, 5);
}

void ReceiverTest::commandWithoutActionStillRewinds() {
    FakeSerialPort port;
    port.open();
    Receiver receiver(port);
    receiver.setRecvExpect(1); // left over from an earlier STOP; PLAY has no action
    receiver.setRecvIdx(0);
    port.inject(QByteArray("\x40", 1));
    runQueued();
    QCOMPARE(int(receiver.RecvCnt()), 0);
    QCOMPARE(int(receiver.RecvIdx()), 0);
    QCOMPARE(receiver.RecvBuf[0], 0x40);
}

QTEST_GUILESS_MAIN(ReceiverTest)
#include "tst_receiver.moc"
