// The QSerialPort adapter on a real pseudo-terminal: the test plays the bridge board on the
// master side, the panel's link opens the slave through a port<N> link in a scratch runtime
// directory. Timing bounds are loose; the benchmark under bench/pacing measures the pacing.

#include "PtyPair.h"
#include "link/PortControl.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "support/Fakes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
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
    Transmitter tx{port, receiver, boxes};
    QList<QByteArray> replies; // RecvBuf[0 .. RecvCnt) each time the action ran

    Link() {
        port.setPortNumber(PortNumber);
        receiver.setReplyAction([this] {
            replies << QByteArray(reinterpret_cast<const char*>(receiver.RecvBuf.data()),
                                  receiver.RecvCnt);
        });
    }
    void send(std::vector<std::uint8_t> frame) {
        tx.SendBuf = std::move(frame);
        tx.Isd_Comm2_Send(static_cast<std::uint8_t>(tx.SendBuf.size()));
    }
};

double processCpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

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
    void hangUpIsReportedOnceWithoutSpinning_data();
    void hangUpIsReportedOnceWithoutSpinning();

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
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());
    const std::vector<std::uint8_t> frame{0x80, 0x00, 0x10, 0x00, 0x20};

    const Clock::time_point sentAt = Clock::now();
    link.send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), frame.size(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!link.tx.isSending(), 1000);
    QCOMPARE(reader.bytes(), QByteArray("\x80\x00\x10\x00\x20", 5));

    const auto arrivals = reader.arrivals();
    const auto first = duration_cast<milliseconds>(arrivals[0].at - sentAt).count();
    QVERIFY2(first >= 30 && first <= 200, qPrintable(QString::number(first)));
    for (std::size_t k = 1; k < arrivals.size(); ++k) {
        const auto gap = duration_cast<milliseconds>(arrivals[k].at - arrivals[k - 1].at).count();
        QVERIFY2(gap >= 30 && gap <= 200,
                 qPrintable(QStringLiteral("gap %1: %2 ms").arg(k).arg(gap)));
    }
    // Nothing follows the frame.
    QTest::qWait(120);
    QCOMPARE(reader.count(), frame.size());
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
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(awkward.size()), 3000);
    QCOMPARE(reader.bytes(), awkward);

    link.receiver.RecvCnt = 0;
    link.receiver.RecvExpect = static_cast<std::uint8_t>(awkward.size());
    QVERIFY(pty_->send(awkward));
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 1, 2000);
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
    // The reply to RD_PLAY_PTR.
    link.receiver.RecvCnt = 0;
    link.receiver.RecvExpect = 4;
    link.send({0x06});
    const QByteArray reply("\x00\x00\x01\x2F", 4);
    for (qsizetype at = 0; at < reply.size(); at += chunk) {
        QVERIFY(pty_->send(reply.mid(at, chunk)));
        if (pauseMs > 0)
            QTest::qWait(pauseMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 1, 2000);
    QCOMPARE(link.replies[0], reply);
    QCOMPARE(int(link.receiver.RecvCnt), 0);
    QCOMPARE(int(link.receiver.RecvIdx), 0);
    // No byte is lost or counted twice: a second reply completes just the same.
    QVERIFY(pty_->send(QByteArray("\x00\x00\x02\x30", 4)));
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 2, 2000);
    QCOMPARE(link.replies[1], QByteArray("\x00\x00\x02\x30", 4));
}

void QtSerialPortTest::burstOfSingleByteWritesIsCountedWhole() {
    // Bytes keep landing while the receiver handles the ones before them; none may be lost
    // between draining and the discard that ends each notification.
    constexpr int Burst = 250;
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    link.receiver.RecvCnt = 0;
    link.receiver.RecvExpect = Burst;
    QByteArray sent;
    std::thread board([&] {
        for (int i = 0; i < Burst; ++i) {
            const char byte = char(i);
            if (::write(pty_->master(), &byte, 1) == 1)
                sent.append(byte);
            std::this_thread::sleep_for(microseconds(40 + 20 * (i % 4)));
        }
    });
    QTest::qWait(300);
    board.join();
    QCOMPARE(sent.size(), Burst);
    QTRY_COMPARE_WITH_TIMEOUT(link.replies.size(), 1, 2000);
    QCOMPARE(link.replies[0], sent);
}

void QtSerialPortTest::closeMidFrameWritesNothingMore() {
    Link link;
    QVERIFY2(link.port.open(), qPrintable(link.port.errorText()));
    MasterReader reader(pty_->master());
    link.send({0x81, 0x00, 0x10, 0x00, 0x20});
    QTRY_COMPARE_WITH_TIMEOUT(reader.count(), std::size_t(2), 3000);
    link.port.close();
    QTest::qWait(200); // four more ticks' worth
    QCOMPARE(reader.bytes(), QByteArray("\x81\x00", 2));
    QVERIFY(!link.tx.isSending());
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

void QtSerialPortTest::hangUpIsReportedOnceWithoutSpinning_data() {
    QTest::addColumn<bool>("frameInFlight");
    QTest::newRow("idle line") << false;
    QTest::newRow("frame being paced out") << true;
}

void QtSerialPortTest::hangUpIsReportedOnceWithoutSpinning() {
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
        QTest::qWait(70); // a byte is out, the rest of the frame is pending
    }

    // From the hang-up on, for a second: one report, one box, and the process stays nearly
    // idle (a dead descriptor polled in a loop would keep a core busy all the while).
    QElapsedTimer sinceHangUp;
    const double cpuBefore = processCpuSeconds();
    sinceHangUp.start();
    pty_->closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, 1000);
    const qint64 noticedAfter = sinceHangUp.elapsed();
    QVERIFY(!link.port.isOpen());
    QVERIFY(!control.isOpen());
    QVERIFY(!link.tx.isSending());
    QCOMPARE(changes.last().at(0).toBool(), false);

    QTest::qWait(int(std::max<qint64>(0, 1000 - sinceHangUp.elapsed())));
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    qInfo("device loss noticed after %lld ms; CPU time in the second after the hang-up: %.1f ms",
          noticedAfter, cpuUsed * 1000);
    QVERIFY2(cpuUsed < 0.15, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuUsed)));
    QCOMPARE(lost, 1);
    QCOMPARE(link.boxes.boxes.size(), 1);
    QCOMPARE(link.boxes.boxes[0].text, QStringLiteral("串口已断开"));
    QCOMPARE(link.boxes.boxes[0].title, QStringLiteral("串口状态"));
    QCOMPARE(link.boxes.boxes[0].icon, MessageIcon::Critical);
}

QTEST_GUILESS_MAIN(QtSerialPortTest)
#include "tst_qt_serial_port.moc"
