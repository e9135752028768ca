// The QSerialPort adapter on a real pseudo-terminal: the test plays the bridge board on the
// master side, the panel's link opens the slave through a port<N> link in a scratch runtime
// directory. The tests wait for events, never for a time; the figures (pacing, how soon a
// lost device is noticed, CPU time after a hang-up) are measured by bench/pacing and
// bench/linkfaults.

#include "PtyPair.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "support/Fakes.h"
#include "widgets/PortControl.h"

#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

using namespace tamberlo;
using namespace std::chrono;
using tamberlo::test::Clock;
using tamberlo::test::FakeMessageBoxes;
using tamberlo::test::MasterReader;
using tamberlo::test::PtyPair;

namespace {

constexpr std::int16_t PortNumber = 41;

// The panel's link on the real adapter.
struct Link {
    QtSerialPort port;
    FakeMessageBoxes boxes;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    QList<QByteArray> replies; // RecvBuf[0 .. RecvCnt) each time the action ran

    Link() {
        port.setPortNumber(PortNumber);
        receiver.setReplyAction([this] {
            replies << QByteArray(reinterpret_cast<const char*>(receiver.RecvBuf.data()),
                                  receiver.RecvCnt());
        });
    }
    void send(std::vector<std::uint8_t> frame) {
        tx.SendBuf = std::move(frame);
        tx.Isd_Comm2_Send(static_cast<std::uint8_t>(tx.SendBuf.size()));
    }
};

// Generous: the suite runs in parallel and under the sanitizers on a busy machine.
constexpr int EventMs = 10000;

// The adapter with the presence of its device under the test's control.
class VanishingPort : public QtSerialPort {
public:
    bool present = true;
    // Runs each time the presence is looked at.
    std::function<void()> onLook;

protected:
    bool devicePresent() const override {
        if (const std::function<void()> look = onLook) // it may clear onLook
            look();
        return present && QtSerialPort::devicePresent();
    }
};

// The panel's link on a VanishingPort, counting the port's device-lost notices.
struct VanishingLink {
    VanishingPort port;
    FakeMessageBoxes boxes;
    Receiver receiver{port};
    Transmitter tx{port, receiver};
    PortControl control{port, tx, boxes};
    int lost = 0;

    explicit VanishingLink(std::int16_t number) {
        port.setPortNumber(number);
        QObject::connect(&port, &SerialPort::communication, [this](CommEvent kind) {
            if (kind == CommEvent::DeviceLost)
                ++lost;
        });
    }
};

} // namespace

class QtSerialPortTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensSlaveThroughRuntimeLink();
    void pacesFramesOnTheLine();
    void bytesPassUnchangedBothWays();
    void readsRepliesBack_data();
    void readsRepliesBack();
    void burstOfSingleByteWritesIsCountedWhole();
    void closeMidFrameWritesNothingMore();
    void openFailuresSayWhy();
    void busyDeviceIsNotOpenedTwice();
    void hangUpIsReportedOnce_data();
    void hangUpIsReportedOnce();
    void vanishedDeviceIsNoticedWhileNothingIsRead();
    void lossOfAnEarlierSessionDoesNotReachTheNext();
    void bytesArrivingWhileTheActionsBoxIsOpenAreRead();

private:
    void linkPort(const QString& target);

    QTemporaryDir runtime_;
    std::unique_ptr<PtyPair> pty_;
};

void QtSerialPortTest::initTestCase() {
    QVERIFY(runtime_.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
    QVERIFY(QDir(runtime_.path()).mkpath(QStringLiteral("tamberlo")));
}

void QtSerialPortTest::linkPort(const QString& target) {
    QFile::remove(portLinkPath(PortNumber));
    QVERIFY(QFile::link(target, portLinkPath(PortNumber)));
}

void QtSerialPortTest::init() {
    pty_ = std::make_unique<PtyPair>();
    QVERIFY2(pty_->isValid(), "openpty failed");
    linkPort(pty_->slaveName());
}

void QtSerialPortTest::cleanup() {
    QFile::remove(portLinkPath(PortNumber));
    pty_.reset();
}

void QtSerialPortTest::opensSlaveThroughRuntimeLink() {
    QtSerialPort port;
    port.setPortNumber(PortNumber);
    QVERIFY2(port.open(), qPrintable(port.errorText()));
    QVERIFY(port.isOpen());
    QCOMPARE(port.deviceLocation(), QFileInfo(pty_->slaveName()).canonicalFilePath());
    QCOMPARE(port.openFailure(), OpenFailure::None);
    port.close();
    QVERIFY(!port.isOpen());
    // The port is free again.
    QVERIFY2(port.open(), qPrintable(port.errorText()));
}

void QtSerialPortTest::pacesFramesOnTheLine() {
    // The bytes, whole and in order, one write each; how evenly they are spaced is a figure
    // of bench/pacing.
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());
    const std::vector<std::uint8_t> frame{0x80, 0x00, 0x10, 0x00, 0x20};

    link.send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), frame.size(), EventMs);
    QTRY_VERIFY_WITH_TIMEOUT(!link.tx.isSending(), EventMs);
    // Nothing follows the frame: a marker written now is the very next byte on the line.
    link.port.write(0xA5);
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), frame.size() + 1, EventMs);
    QCOMPARE(reader.bytes(), QByteArray("\x80\x00\x10\x00\x20\xA5", 6));
    // Each byte was a write of its own, not a burst: they reached the line one by one.
    const auto arrivals = reader.arrivals();
    for (std::size_t k = 1; k < frame.size(); ++k)
        QVERIFY2(arrivals[k].at > arrivals[k - 1].at, qPrintable(QString::number(k)));
}

void QtSerialPortTest::bytesPassUnchangedBothWays() {
    // Line ends, NUL, XON/XOFF, interrupt, end-of-file, DEL and 8-bit bytes: a raw line with
    // no flow control must carry them all as they are.
    const QByteArray awkward("\x0A\x0D\x00\xFF\x11\x13\x03\x04\x7F\x80", 10);
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());

    std::vector<std::uint8_t> frame(awkward.begin(), awkward.end());
    link.send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(awkward.size()), EventMs);
    QCOMPARE(reader.bytes(), awkward);

    link.receiver.setRecvCnt(0);
    link.receiver.setRecvExpect(static_cast<std::uint8_t>(awkward.size()));
    QVERIFY(pty_->send(awkward));
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 1, EventMs);
    QCOMPARE(link.replies[0], awkward);
}

void QtSerialPortTest::readsRepliesBack_data() {
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("pauseMs");
    QTest::newRow("all at once") << 4 << 0;
    QTest::newRow("one byte per write, 2 ms apart") << 1 << 2;
    QTest::newRow("one byte per write, back to back") << 1 << 0;
    QTest::newRow("three then one, 20 ms apart") << 3 << 20;
}

void QtSerialPortTest::readsRepliesBack() {
    QFETCH(int, chunk);
    QFETCH(int, pauseMs);
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());
    // The reply to RD_PLAY_PTR, sent once the command is on the line.
    link.receiver.setRecvCnt(0);
    link.receiver.setRecvExpect(4);
    link.send({0x06});
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(1), EventMs);
    const QByteArray reply("\x00\x00\x01\x2F", 4);
    for (qsizetype at = 0; at < reply.size(); at += chunk) {
        QVERIFY(pty_->send(reply.mid(at, chunk)));
        if (pauseMs > 0)
            QTest::qWait(pauseMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 1, EventMs);
    QCOMPARE(link.replies[0], reply);
    QCOMPARE(int(link.receiver.RecvCnt()), 0);
    QCOMPARE(int(link.receiver.RecvIdx()), 0);
    // No byte is lost or counted twice: a second reply completes just the same.
    QVERIFY(pty_->send(QByteArray("\x00\x00\x02\x30", 4)));
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 2, EventMs);
    QCOMPARE(link.replies[1], QByteArray("\x00\x00\x02\x30", 4));
}

void QtSerialPortTest::burstOfSingleByteWritesIsCountedWhole() {
    // Bytes keep landing while the receiver handles the ones before them; none may be lost
    // between draining and the discard that ends each notification.
    constexpr int Burst = 250;
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    link.receiver.setRecvCnt(0);
    link.receiver.setRecvExpect(Burst);
    QByteArray sent;
    std::atomic<bool> done{false};
    std::thread board([&] {
        for (int i = 0; i < Burst; ++i) {
            const char byte = char(i);
            if (::write(pty_->master(), &byte, 1) == 1)
                sent.append(byte);
            std::this_thread::sleep_for(microseconds(40 + 20 * (i % 4)));
        }
        done = true;
    });
    // The panel takes the bytes in while they come.
    QTRY_VERIFY_WITH_TIMEOUT(done, EventMs);
    board.join();
    QCOMPARE(sent.size(), Burst);
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 1, EventMs);
    QCOMPARE(link.replies[0], sent);
}

void QtSerialPortTest::closeMidFrameWritesNothingMore() {
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());
    // Closed right after the tick that wrote the second byte.
    connect(&link.tx.Timer1(), &QTimer::timeout, this, [&] {
        if (link.tx.SendIdx() == 2 && link.port.isOpen())
            link.port.close();
    });
    link.send({0x81, 0x00, 0x10, 0x00, 0x20});
    // The next tick finds the port closed and drops the rest of the frame.
    QTRY_VERIFY_WITH_TIMEOUT(!link.tx.isSending(), EventMs);
    QVERIFY(!link.port.isOpen());
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(2), EventMs);
    QCOMPARE(reader.bytes(), QByteArray("\x81\x00", 2));
}

void QtSerialPortTest::openFailuresSayWhy() {
    QtSerialPort port;
    // A number nothing stands for.
    port.setPortNumber(32000);
    QVERIFY(!port.open());
    QCOMPARE(port.openFailure(), OpenFailure::NoDevice);
    QVERIFY2(port.errorText().contains(QStringLiteral("32000")), qPrintable(port.errorText()));
    qInfo("no device: %s", qPrintable(port.errorText()));

    // A link whose device has gone.
    const QString gone = runtime_.filePath(QStringLiteral("pts-gone"));
    linkPort(gone);
    port.setPortNumber(PortNumber);
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
    QCOMPARE(port.openFailure(), OpenFailure::NoDevice);
    QVERIFY2(port.errorText().contains(gone), qPrintable(port.errorText()));
    qInfo("device gone: %s", qPrintable(port.errorText()));

    // A device the user may not open.
    const QString locked = runtime_.filePath(QStringLiteral("locked-tty"));
    {
        QFile file(locked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner));
    }
    linkPort(locked);
    QVERIFY(!port.open());
    if (QFileInfo(locked).isWritable())
        QSKIP("running with the rights to write anything; the permission case needs a user");
    QCOMPARE(port.openFailure(), OpenFailure::AccessDenied);
    QVERIFY(!port.errorText().isEmpty());
    qInfo("no permission: %s", qPrintable(port.errorText()));
}

void QtSerialPortTest::busyDeviceIsNotOpenedTwice() {
    auto first = std::make_unique<QtSerialPort>();
    first->setPortNumber(PortNumber);
    QVERIFY2(first->open(), qPrintable(first->errorText()));
    QtSerialPort second;
    second.setPortNumber(PortNumber);
    QVERIFY(!second.open());
    QCOMPARE(second.openFailure(), OpenFailure::Busy);
    QVERIFY(!second.errorText().isEmpty());
    qInfo("in use: %s", qPrintable(second.errorText()));
    QVERIFY(first->isOpen());
    // The port goes with its owner (the window): the device is free again.
    first.reset();
    QVERIFY2(second.open(), qPrintable(second.errorText()));
}

void QtSerialPortTest::hangUpIsReportedOnce_data() {
    QTest::addColumn<bool>("frameInFlight");
    QTest::newRow("idle line") << false;
    QTest::newRow("frame being paced out") << true;
}

void QtSerialPortTest::hangUpIsReportedOnce() {
    // How soon the loss is noticed and how idle the process stays afterwards are figures of
    // bench/linkfaults.
    QFETCH(bool, frameInFlight);
    Link link;
    PortControl control(link.port, link.tx, link.boxes);
    QSignalSpy changes(&control, &PortControl::openChanged);
    int lost = 0;
    connect(&link.port, &SerialPort::communication, this, [&](CommEvent kind) {
        if (kind == CommEvent::DeviceLost)
            ++lost;
    });
    control.toggle(QString::number(PortNumber));
    QVERIFY2(link.port.isOpen(),
             link.boxes.boxes.isEmpty() ? "not open" : qPrintable(link.boxes.boxes[0].text));
    if (frameInFlight) {
        link.send({0x80, 0x00, 0x10, 0x00, 0x20});
        // A byte is out, the rest of the frame is pending.
        QTRY_VERIFY_WITH_TIMEOUT(link.tx.SendIdx() > 0, EventMs);
    }

    pty_->closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, EventMs);
    QVERIFY(!link.port.isOpen());
    QVERIFY(!control.isOpen());
    QVERIFY(!link.tx.isSending());
    QCOMPARE(changes.last().at(0).toBool(), false);

    // Whatever else the dead line or the presence check might still raise (it looks every
    // half second) brings no second report: give it two periods and more to come.
    QSignalSpy later(&link.port, &SerialPort::communication);
    later.wait(1200);
    QCOMPARE(lost, 1);
    QCOMPARE(link.boxes.boxes.size(), 1);
    QCOMPARE(link.boxes.boxes[0].text, QStringLiteral("串口已断开"));
    QCOMPARE(link.boxes.boxes[0].title, QStringLiteral("串口状态"));
    QCOMPARE(link.boxes.boxes[0].icon, MessageIcon::Critical);
}

void QtSerialPortTest::vanishedDeviceIsNoticedWhileNothingIsRead() {
    // The device node goes away while the line stays quiet and raises no error (the other end
    // of the pseudo-terminal is still held): only the presence check can notice.
    VanishingLink link(PortNumber);
    VanishingPort& port = link.port;
    FakeMessageBoxes& boxes = link.boxes;
    PortControl& control = link.control;
    const int& lost = link.lost;
    control.toggle(QString::number(PortNumber));
    QVERIFY(port.isOpen());

    port.present = false;
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, EventMs);
    QVERIFY(!port.isOpen());
    QVERIFY(!control.isOpen());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("串口已断开"));
}

void QtSerialPortTest::lossOfAnEarlierSessionDoesNotReachTheNext() {
    // The loss is noticed, and before its report has been delivered the operator closes the
    // port and opens it again: the report belongs to the session that is gone and must not
    // close the new one.
    VanishingLink link(PortNumber);
    VanishingPort& port = link.port;
    FakeMessageBoxes& boxes = link.boxes;
    PortControl& control = link.control;
    const int& lost = link.lost;
    control.toggle(QString::number(PortNumber));
    QVERIFY(port.isOpen());

    bool reopened = false;
    bool afterReport = false;
    port.onLook = [&] {
        if (port.present)
            return;
        port.onLook = nullptr;
        // Queued before the report is: it runs first.
        QMetaObject::invokeMethod(
            this,
            [&] {
                control.toggle(QString::number(PortNumber)); // close
                port.present = true;
                control.toggle(QString::number(PortNumber)); // open again
                reopened = port.isOpen();
                // Queued after the report: once it runs, the report has had its turn.
                QMetaObject::invokeMethod(
                    this, [&] { afterReport = true; }, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    };
    port.present = false;
    QTRY_VERIFY_WITH_TIMEOUT(afterReport, EventMs);
    QVERIFY(reopened);
    QCOMPARE(lost, 0);
    QVERIFY(port.isOpen());
    QVERIFY(control.isOpen());
    QVERIFY(boxes.boxes.isEmpty());
}

void QtSerialPortTest::bytesArrivingWhileTheActionsBoxIsOpenAreRead() {
    // The reply's action opens a modal box (here an event loop of its own, as a box has);
    // the board sends another byte while it is open. The byte is read and counted while the
    // box is open, not left in the port for the next reply.
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());
    int countInBox = -1;
    link.receiver.setReplyAction([&] {
        if (countInBox >= 0)
            return;
        countInBox = link.receiver.RecvCnt();
        QEventLoop box;
        const auto quitOnCount = connect(
            &link.port, &SerialPort::communication, &box,
            [&] {
                if (link.receiver.RecvCnt() > 4)
                    box.quit();
            },
            Qt::QueuedConnection);
        QTimer::singleShot(EventMs, &box, &QEventLoop::quit);
        QVERIFY(pty_->send(QByteArray("\x5A", 1)));
        box.exec();
        disconnect(quitOnCount);
        countInBox = link.receiver.RecvCnt();
    });
    link.receiver.setRecvCnt(0);
    link.receiver.setRecvExpect(4);
    link.send({0x06});
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(1), EventMs);
    QVERIFY(pty_->send(QByteArray("\x00\x00\x01\x2F", 4)));
    QTRY_VERIFY_WITH_TIMEOUT(
        countInBox >= 0 && !link.receiver.isActionDue() && link.receiver.RecvCnt() == 0, EventMs);
    QCOMPARE(countInBox, 5);
    QCOMPARE(link.receiver.RecvBuf[4], 0x5A);
    // The rewind after the box leaves nothing behind: the next reply is recognised.
    link.receiver.setReplyAction([&] { countInBox = 100 + link.receiver.RecvCnt(); });
    link.receiver.setRecvExpect(4);
    link.send({0x08});
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(2), EventMs);
    QVERIFY(pty_->send(QByteArray("\x00\x00\x02\x30", 4)));
    QTRY_COMPARE_WITH_TIMEOUT(countInBox, 104, EventMs);
}

QTEST_GUILESS_MAIN(QtSerialPortTest)
#include "tst_qt_serial_port.moc"
