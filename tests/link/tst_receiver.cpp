// The reply receiver against the in-memory port: counting, draining, the exact match with
// RecvExpect, the order of action and rewind, and counts that run past 255.

#include "link/Receiver.h"
#include "support/Fakes.h"

#include <QTest>

using namespace tamberlo;
using tamberlo::test::FakeMessageBoxes;
using tamberlo::test::FakeSerialPort;

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
};

struct Rx {
    WatchedPort port;
    Receiver receiver{port};
    QList<Seen> actions;

    Rx() {
        port.open();
        receiver.setReplyAction([this] {
            Seen seen;
            seen.count = receiver.RecvCnt;
            seen.index = receiver.RecvIdx;
            seen.buffer = QByteArray(reinterpret_cast<const char*>(receiver.RecvBuf.data()),
                                     receiver.RecvIdx);
            actions << seen;
        });
    }
};

} // namespace

class ReceiverTest : public QObject {
    Q_OBJECT
private slots:
    void completesOnExactCount_data();
    void completesOnExactCount();
    void drainsWithNotificationsOff();
    void surplusInSameNotificationNeverMatches();
    void staleCountKeepsStopActionFromRunning();
    void otherKindsAreIgnored_data();
    void otherKindsAreIgnored();
    void thousandBytesAtOnceWrapInsideBuffer();
    void thousandBytesOneByOneWrapAndRewind();
    void rewindFollowsActionEvenWithNestedNotification();
    void commandWithoutActionStillRewinds();
};

void ReceiverTest::completesOnExactCount_data() {
    QTest::addColumn<QList<int>>("groups");
    QTest::addColumn<QList<int>>("countsAfter");
    QTest::newRow("one byte per notification") << QList<int>{1, 1, 1, 1} << QList<int>{1, 2, 3, 0};
    QTest::newRow("all four at once") << QList<int>{4} << QList<int>{0};
    QTest::newRow("two and two") << QList<int>{2, 2} << QList<int>{2, 0};
    QTest::newRow("three and one") << QList<int>{3, 1} << QList<int>{3, 0};
}

void ReceiverTest::completesOnExactCount() {
    // The reply to RD_PLAY_PTR: four bytes, the pointer in bytes 2 and 3.
    QFETCH(QList<int>, groups);
    QFETCH(QList<int>, countsAfter);
    const QByteArray reply("\x00\x00\x01\x2F", 4);
    Rx rx;
    rx.receiver.RecvExpect = 4;

    qsizetype at = 0;
    for (int i = 0; i < groups.size(); ++i) {
        rx.port.inject(reply.mid(at, groups[i]));
        at += groups[i];
        QCOMPARE(int(rx.receiver.RecvCnt), countsAfter[i]);
        QCOMPARE(rx.actions.size(), i + 1 == groups.size() ? 1 : 0);
    }
    // The action saw the whole reply before the rewind ...
    QCOMPARE(rx.actions[0].count, 4);
    QCOMPARE(rx.actions[0].index, 4);
    QCOMPARE(rx.actions[0].buffer, reply);
    // ... and afterwards the counters are back at 0, the buffer keeps the bytes.
    QCOMPARE(int(rx.receiver.RecvIdx), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(rx.receiver.RecvBuf.data()), 4), reply);
}

void ReceiverTest::drainsWithNotificationsOff() {
    Rx rx;
    rx.receiver.RecvExpect = 3;
    // Two bytes come in while the first one is being read: stored, but not counted.
    rx.port.arriveDuringDrain = QByteArray("\x22\x33", 2);
    rx.port.inject(QByteArray("\x11", 1));

    QCOMPARE(int(rx.receiver.RecvCnt), 1);
    QCOMPARE(int(rx.receiver.RecvIdx), 3);
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
    rx.receiver.RecvExpect = 4;
    rx.port.inject(QByteArray("\x00\x00\x01\x2F\x55", 5));
    QCOMPARE(int(rx.receiver.RecvCnt), 5);
    rx.port.inject(QByteArray("\x66", 1));
    QCOMPARE(int(rx.receiver.RecvCnt), 6);
    QVERIFY(rx.actions.isEmpty());
}

void ReceiverTest::staleCountKeepsStopActionFromRunning() {
    // STOP does not clear RecvCnt: one byte left from an unanswered exchange spoils its reply.
    Rx rx;
    rx.receiver.RecvCnt = 1;
    rx.receiver.RecvExpect = 1;
    rx.port.inject(QByteArray("\x02", 1));
    QCOMPARE(int(rx.receiver.RecvCnt), 2);
    QVERIFY(rx.actions.isEmpty());
}

void ReceiverTest::otherKindsAreIgnored_data() {
    QTest::addColumn<CommEvent>("kind");
    QTest::newRow("error") << CommEvent::Error;
    QTest::newRow("device lost") << CommEvent::DeviceLost;
}

void ReceiverTest::otherKindsAreIgnored() {
    QFETCH(CommEvent, kind);
    Rx rx;
    rx.receiver.RecvExpect = 0; // would match a count of 0 at once if the kind were not checked
    rx.receiver.RecvCnt = 2;
    rx.receiver.RecvIdx = 2;
    for (std::uint8_t b : {0x01, 0x02, 0x03})
        rx.port.input.push_back(b);
    rx.port.raise(kind);
    QCOMPARE(int(rx.receiver.RecvCnt), 2);
    QCOMPARE(int(rx.receiver.RecvIdx), 2);
    QCOMPARE(rx.port.input.size(), std::size_t(3));
    QCOMPARE(rx.port.binaryModeCalls, 0);
    QVERIFY(rx.port.log.isEmpty());
    QVERIFY(rx.actions.isEmpty());
}

void ReceiverTest::thousandBytesAtOnceWrapInsideBuffer() {
    Rx rx;
    rx.receiver.RecvExpect = 4;
    for (std::size_t i = 256; i < Receiver::BufferSize; ++i)
        rx.receiver.RecvBuf[i] = 0xEE;
    QByteArray junk;
    for (int i = 0; i < 1000; ++i)
        junk.append(char(i % 251));
    rx.port.inject(junk);

    // Both counters wrap modulo 256; the writes cycle through RecvBuf[0..255].
    QCOMPARE(int(rx.receiver.RecvCnt), 1000 % 256);
    QCOMPARE(int(rx.receiver.RecvIdx), 1000 % 256);
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
    for (int i = 0; i < 1000; ++i)
        rx.port.inject(QByteArray(1, char(0xA5)));
    QCOMPARE(rx.actions.size(), 3); // after bytes 256, 512 and 768
    for (const Seen& seen : std::as_const(rx.actions)) {
        QCOMPARE(seen.count, 0);
        QCOMPARE(seen.index, 0);
    }
    QCOMPARE(int(rx.receiver.RecvCnt), 1000 - 768);
    QCOMPARE(int(rx.receiver.RecvIdx), 1000 - 768);
}

void ReceiverTest::rewindFollowsActionEvenWithNestedNotification() {
    // The action opens a modal box; while it is open two more bytes arrive and are handled
    // by a nested notification. The rewind still comes after the box is dismissed.
    Rx rx;
    FakeMessageBoxes boxes;
    int countWhileBoxOpen = -1;
    boxes.onShow = [&](const FakeMessageBoxes::Box&) {
        rx.port.inject(QByteArray("\x77\x88", 2));
        countWhileBoxOpen = rx.receiver.RecvCnt;
    };
    int actions = 0;
    rx.receiver.setReplyAction([&] {
        ++actions;
        boxes.show(QStringLiteral("00 00 10 00 20 "), QString(), MessageIcon::Information);
    });
    rx.receiver.RecvExpect = 5;
    rx.port.inject(QByteArray("\x00\x00\x10\x00\x20", 5));

    QCOMPARE(actions, 1);
    QCOMPARE(countWhileBoxOpen, 7);
    QCOMPARE(rx.receiver.RecvBuf[5], 0x77);
    QCOMPARE(rx.receiver.RecvBuf[6], 0x88);
    QCOMPARE(int(rx.receiver.RecvCnt), 0);
    QCOMPARE(int(rx.receiver.RecvIdx), 0);
}

void ReceiverTest::commandWithoutActionStillRewinds() {
    FakeSerialPort port;
    port.open();
    Receiver receiver(port);
    receiver.RecvExpect = 1; // left over from an earlier STOP; PLAY has no action
    receiver.RecvIdx = 0;
    port.inject(QByteArray("\x40", 1));
    QCOMPARE(int(receiver.RecvCnt), 0);
    QCOMPARE(int(receiver.RecvIdx), 0);
    QCOMPARE(receiver.RecvBuf[0], 0x40);
}

QTEST_GUILESS_MAIN(ReceiverTest)
#include "tst_receiver.moc"
