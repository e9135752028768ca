// The toggle of Command16 against the in-memory port: decisions on the real port state,
// failures that keep the panel Closed, and a device that goes away under an open port.

#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "support/Fakes.h"
#include "widgets/PortControl.h"

#include <QSignalSpy>
#include <QTest>

using namespace tamberlo;
using tamberlo::test::FakeMessageBoxes;
using tamberlo::test::FakeSerialPort;

namespace {

struct Panel {
    FakeSerialPort port;
    FakeMessageBoxes boxes;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    PortControl control{port, tx, boxes};
    QSignalSpy toggled{&control, &PortControl::toggled};
    QSignalSpy openChanged{&control, &PortControl::openChanged};

    bool lastAnnounced() const { return openChanged.last().at(0).toBool(); }
};

} // namespace

class PortControlTest : public QObject {
    Q_OBJECT
private slots:
    void opensOnTypedNumberAndClosesAgain_data();
    void opensOnTypedNumberAndClosesAgain();
    void openFailureKeepsClosed_data();
    void openFailureKeepsClosed();
    void decidesByActualPortState();
    void openSendsNothingAndStartsTheReceiverAfresh();
    void closeDropsFrameInFlight();
    void deviceLostTellsOperatorOnce();
    void deviceLostWhileClosedIsIgnored();
};

void PortControlTest::opensOnTypedNumberAndClosesAgain_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::newRow("list entry") << QStringLiteral("1") << 1;
    QTest::newRow("last list entry") << QStringLiteral("16") << 16;
    QTest::newRow("typed, not in the list") << QStringLiteral("20") << 20;
    QTest::newRow("spaces around") << QStringLiteral(" 7 ") << 7;
}

void PortControlTest::opensOnTypedNumberAndClosesAgain() {
    QFETCH(QString, text);
    QFETCH(int, number);
    Panel panel;

    panel.control.toggle(text);
    QVERIFY(panel.port.isOpen());
    QCOMPARE(int(panel.port.portNumber()), number);
    QCOMPARE(panel.openChanged.size(), 1);
    QVERIFY(panel.lastAnnounced());

    panel.control.toggle(text);
    QVERIFY(!panel.port.isOpen());
    QCOMPARE(panel.openChanged.size(), 2);
    QVERIFY(!panel.lastAnnounced());
    QCOMPARE(panel.toggled.size(), 2);
    QVERIFY(panel.boxes.boxes.isEmpty());
    QVERIFY(panel.port.written.isEmpty());
}

void PortControlTest::openFailureKeepsClosed_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("portError"); // empty: the open itself succeeds
    QTest::addColumn<OpenFailure>("kind");
    QTest::addColumn<QStringList>("mustContain");
    QTest::addColumn<bool>("dialoutHint");
    QTest::addColumn<bool>("reachesPort");

#ifdef Q_OS_LINUX
    const bool onLinux = true;
#else
    const bool onLinux = false;
#endif
    const auto none = OpenFailure::None;
    QTest::newRow("not a number") << "x" << QString() << none << QStringList{"串口号无效", "x"}
                                  << false << false;
    QTest::newRow("beyond 16 bits")
        << "70000" << QString() << none << QStringList{"串口号无效", "70000"} << false << false;
    QTest::newRow("empty") << "" << QString() << none << QStringList{"串口号无效"} << false
                           << false;
    QTest::newRow("no such device")
        << "3"
        << "/dev/ttyUSB7：No such file or directory" << OpenFailure::NoDevice
        << QStringList{"No such file or directory"} << false << true;
    QTest::newRow("in use by another program")
        << "2"
        << "/dev/ttyUSB0：Device or resource busy" << OpenFailure::Busy
        << QStringList{"Device or resource busy"} << false << true;
    QTest::newRow("permission denied")
        << "1"
        << "/dev/ttyS0：Permission denied" << OpenFailure::AccessDenied
        << QStringList{"Permission denied"} << onLinux << true;
}

void PortControlTest::openFailureKeepsClosed() {
    QFETCH(QString, text);
    QFETCH(QString, portError);
    QFETCH(OpenFailure, kind);
    QFETCH(QStringList, mustContain);
    QFETCH(bool, dialoutHint);
    QFETCH(bool, reachesPort);
    Panel panel;
    panel.port.failOpenWith = portError;
    panel.port.failOpenKind = kind;
    // While the box is open the panel must already show Closed.
    bool closedWhileBoxOpen = false;
    panel.boxes.onShow = [&](const FakeMessageBoxes::Box&) {
        closedWhileBoxOpen = !panel.openChanged.isEmpty() && !panel.lastAnnounced();
    };

    panel.control.toggle(text);

    QVERIFY(!panel.port.isOpen());
    QCOMPARE(panel.port.openCalls, reachesPort ? 1 : 0);
    QCOMPARE(panel.toggled.size(), 1);
    QVERIFY(closedWhileBoxOpen);
    QCOMPARE(panel.boxes.boxes.size(), 1);
    const auto& box = panel.boxes.boxes[0];
    QCOMPARE(box.title, QStringLiteral("串口状态"));
    QCOMPARE(box.icon, MessageIcon::Critical);
    QVERIFY2(box.text.startsWith(QStringLiteral("串口打开失败")), qPrintable(box.text));
    for (const QString& part : mustContain)
        QVERIFY2(box.text.contains(part), qPrintable(box.text));
    QCOMPARE(box.text.contains(QStringLiteral("dialout")), dialoutHint);
}

void PortControlTest::decidesByActualPortState() {
    Panel panel;
    panel.control.toggle(QStringLiteral("4"));
    QVERIFY(panel.port.isOpen());
    // The port closes behind the panel's back: the next click opens, whatever the caption.
    panel.port.close();
    panel.control.toggle(QStringLiteral("5"));
    QVERIFY(panel.port.isOpen());
    QCOMPARE(int(panel.port.portNumber()), 5);
    QVERIFY(panel.lastAnnounced());
    QCOMPARE(panel.port.openCalls, 2);
}

void PortControlTest::openSendsNothingAndStartsTheReceiverAfresh() {
    Panel panel;
    panel.tx.SendBuf = {0x09};
    panel.tx.Isd_Comm2_Send(1); // refused: the port is closed
    panel.boxes.boxes.clear();
    panel.receiver.setRecvCnt(2);
    panel.receiver.setRecvIdx(3);
    panel.receiver.setRecvExpect(3);
    panel.port.input.push_back(0xFF); // what the device sent before the panel took the port

    panel.control.toggle(QStringLiteral("1"));
    QVERIFY(panel.port.isOpen());
    QVERIFY(panel.port.written.isEmpty());
    // A count left from before, or a byte the device sent on its own, cannot shift the count
    // of the first reply on this port.
    QCOMPARE(panel.port.log, QStringList{QStringLiteral("discard-input")});
    QVERIFY(panel.port.input.empty());
    QCOMPARE(int(panel.receiver.RecvCnt()), 0);
    QCOMPARE(int(panel.receiver.RecvIdx()), 0);
    QCOMPARE(int(panel.receiver.RecvExpect()), 3);
    QCOMPARE(panel.tx.CurCmd(), 0x09);
    QVERIFY(!panel.tx.isSending());
}

void PortControlTest::closeDropsFrameInFlight() {
    Panel panel;
    panel.control.toggle(QStringLiteral("1"));
    panel.tx.SendBuf = {0x80, 0x00, 0x10, 0x00, 0x20};
    panel.tx.Isd_Comm2_Send(5);
    panel.tx.tick();
    panel.control.toggle(QStringLiteral("1")); // close
    QVERIFY(!panel.tx.isSending());
    // Opened again at once: nothing of the old frame follows.
    panel.control.toggle(QStringLiteral("1"));
    QVERIFY(!panel.tx.isSending());
    QCOMPARE(panel.port.written, QByteArray("\x80", 1));
}

void PortControlTest::deviceLostTellsOperatorOnce() {
    Panel panel;
    panel.control.toggle(QStringLiteral("1"));
    panel.tx.SendBuf = {0x81, 0x00, 0x10, 0x00, 0x20};
    panel.tx.Isd_Comm2_Send(5);
    panel.tx.tick();
    // More reports of the loss while the box is still open change nothing.
    panel.boxes.onShow = [&](const FakeMessageBoxes::Box&) {
        panel.port.raise(CommEvent::DeviceLost);
    };

    panel.port.raise(CommEvent::DeviceLost);
    panel.port.raise(CommEvent::DeviceLost);

    QVERIFY(!panel.port.isOpen());
    QVERIFY(!panel.tx.isSending());
    QCOMPARE(panel.port.written, QByteArray("\x81", 1));
    QCOMPARE(panel.boxes.boxes.size(), 1);
    QCOMPARE(panel.boxes.boxes[0].text, QStringLiteral("串口已断开"));
    QCOMPARE(panel.boxes.boxes[0].title, QStringLiteral("串口状态"));
    QCOMPARE(panel.boxes.boxes[0].icon, MessageIcon::Critical);
    QCOMPARE(panel.openChanged.size(), 2);
    QVERIFY(!panel.lastAnnounced());
    // The next click opens the port again.
    panel.control.toggle(QStringLiteral("1"));
    QVERIFY(panel.port.isOpen());
}

void PortControlTest::deviceLostWhileClosedIsIgnored() {
    Panel panel;
    panel.port.raise(CommEvent::DeviceLost);
    panel.port.raise(CommEvent::Error);
    QVERIFY(panel.boxes.boxes.isEmpty());
    QVERIFY(panel.openChanged.isEmpty());
}

QTEST_GUILESS_MAIN(PortControlTest)
#include "tst_port_control.moc"
