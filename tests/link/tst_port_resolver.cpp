// Port numbers: the text of Combo1, the order serial devices are counted in, and the port<N>
// links in the runtime directory (a scratch one per test).

#include "link/PortResolver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tamberlo;

Q_DECLARE_METATYPE(QList<tamberlo::SerialDevice>)

class PortResolverTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parsesComboText_data();
    void parsesComboText();
    void ordersUsbFirstInNaturalOrder_data();
    void ordersUsbFirstInNaturalOrder();
    void countsNthDevice_data();
    void countsNthDevice();
    void linkInRuntimeDirWins();
    void danglingLinkStillNamesThePort();

private:
    QList<SerialDevice> threeDevices() const;

    std::unique_ptr<QTemporaryDir> runtime_;
    QByteArray savedRuntimeDir_;
    bool hadRuntimeDir_ = false;
};

void PortResolverTest::init() {
    hadRuntimeDir_ = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    savedRuntimeDir_ = qgetenv("XDG_RUNTIME_DIR");
    runtime_ = std::make_unique<QTemporaryDir>();
    QVERIFY(runtime_->isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_->path()));
}

void PortResolverTest::cleanup() {
    if (hadRuntimeDir_)
        qputenv("XDG_RUNTIME_DIR", savedRuntimeDir_);
    else
        qunsetenv("XDG_RUNTIME_DIR");
    runtime_.reset();
}

QList<SerialDevice> PortResolverTest::threeDevices() const {
    return {{QStringLiteral("/dev/ttyACM0"), QStringLiteral("Bridge board"), true},
            {QStringLiteral("/dev/ttyUSB0"), QString(), true},
            {QStringLiteral("/dev/ttyS0"), QString(), false}};
}

void PortResolverTest::parsesComboText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("number");
    QTest::newRow("list entry") << "1" << true << 1;
    QTest::newRow("last list entry") << "16" << true << 16;
    QTest::newRow("typed beyond the list") << "20" << true << 20;
    QTest::newRow("spaces around") << " 7 " << true << 7;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("plus sign") << "+5" << true << 5;
    QTest::newRow("negative") << "-3" << true << -3;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("largest") << "32767" << true << 32767;
    QTest::newRow("smallest") << "-32768" << true << -32768;
    QTest::newRow("letters") << "x" << false << 0;
    QTest::newRow("beyond 16 bits") << "70000" << false << 0;
    QTest::newRow("one past largest") << "32768" << false << 0;
    QTest::newRow("one below smallest") << "-32769" << false << 0;
    QTest::newRow("beyond 64 bits") << "99999999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << "   " << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("trailing letters") << "3a" << false << 0;
    QTest::newRow("COM name") << "COM3" << false << 0;
    QTest::newRow("full-width digit") << "３" << false << 0;
}

void PortResolverTest::parsesComboText() {
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, number);
    QString reason = QStringLiteral("stale");
    const std::optional<std::int16_t> parsed = parsePortNumber(text, &reason);
    QCOMPARE(parsed.has_value(), accepted);
    if (accepted) {
        QCOMPARE(int(*parsed), number);
        QVERIFY(reason.isEmpty());
    } else {
        QVERIFY(!reason.isEmpty());
        QVERIFY(reason != QStringLiteral("stale"));
        if (!text.trimmed().isEmpty())
            QVERIFY2(reason.contains(text.trimmed()), qPrintable(reason));
    }
}

void PortResolverTest::ordersUsbFirstInNaturalOrder_data() {
    QTest::addColumn<QList<SerialDevice>>("devices");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("linux")
        << QList<SerialDevice>{{"/dev/ttyS10", {}, false}, {"/dev/ttyUSB10", {}, true},
                               {"/dev/ttyS2", {}, false},  {"/dev/ttyACM1", {}, true},
                               {"/dev/ttyUSB2", {}, true}, {"/dev/ttyS1", {}, false},
                               {"/dev/ttyACM0", {}, true}}
        << QStringList{"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyUSB2", "/dev/ttyUSB10",
                       "/dev/ttyS1",   "/dev/ttyS2",   "/dev/ttyS10"};
    QTest::newRow("macOS call-out devices")
        << QList<SerialDevice>{{"/dev/cu.Bluetooth-Incoming-Port", {}, false},
                               {"/dev/cu.usbserial-A10", {}, true},
                               {"/dev/cu.usbserial-A9", {}, true},
                               {"/dev/cu.usbmodem14101", {}, true}}
        << QStringList{"/dev/cu.usbmodem14101", "/dev/cu.usbserial-A9", "/dev/cu.usbserial-A10",
                       "/dev/cu.Bluetooth-Incoming-Port"};
    QTest::newRow("windows") << QList<SerialDevice>{{"COM10", {}, true},
                                                    {"COM3", {}, false},
                                                    {"COM1", {}, false},
                                                    {"COM4", {}, true}}
                             << QStringList{"COM4", "COM10", "COM1", "COM3"};
    QTest::newRow("none") << QList<SerialDevice>{} << QStringList{};
}

void PortResolverTest::ordersUsbFirstInNaturalOrder() {
    QFETCH(QList<SerialDevice>, devices);
    QFETCH(QStringList, expected);
    QStringList order;
    for (const SerialDevice& device : orderSerialDevices(devices))
        order << device.location;
    QCOMPARE(order, expected);
}

void PortResolverTest::countsNthDevice_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("location");
    QTest::newRow("first") << 1 << "/dev/ttyACM0";
    QTest::newRow("second") << 2 << "/dev/ttyUSB0";
    QTest::newRow("third") << 3 << "/dev/ttyS0";
    QTest::newRow("one past the last") << 4 << QString();
    QTest::newRow("far beyond") << 16 << QString();
    QTest::newRow("zero") << 0 << QString();
    QTest::newRow("negative") << -2 << QString();
}

void PortResolverTest::countsNthDevice() {
#ifdef Q_OS_WIN
    QSKIP("Windows names ports COM<N>");
#endif
    QFETCH(int, number);
    QFETCH(QString, location);
    const auto n = static_cast<std::int16_t>(number);
    const PortDevice port = resolvePort(n, threeDevices());
    QCOMPARE(port.location, location);
    QCOMPARE(port.exists, !location.isEmpty());
    QVERIFY(port.link.isEmpty());

    const QString tip = describePort(n, threeDevices());
    QVERIFY2(tip.contains(QString::number(number)), qPrintable(tip));
    if (location.isEmpty())
        QVERIFY2(tip.contains(QStringLiteral("没有对应的设备")), qPrintable(tip));
    else
        QVERIFY2(tip.contains(location), qPrintable(tip));
    if (number == 1)
        QVERIFY2(tip.contains(QStringLiteral("Bridge board")), qPrintable(tip));
}

void PortResolverTest::linkInRuntimeDirWins() {
    // A stand-in for the tty the bridge simulator would link to.
    QFile device(runtime_->filePath(QStringLiteral("fake-tty")));
    QVERIFY(device.open(QIODevice::WriteOnly));
    device.close();
    QVERIFY(QDir(runtime_->path()).mkpath(QStringLiteral("tamberlo")));
    const QString link = runtime_->filePath(QStringLiteral("tamberlo/port1"));
    QVERIFY(QFile::link(device.fileName(), link));
    QCOMPARE(portLinkPath(1), link);

    const PortDevice port = resolvePort(1, threeDevices());
    QCOMPARE(port.location, QFileInfo(device.fileName()).canonicalFilePath());
    QCOMPARE(port.link, link);
    QVERIFY(port.exists);
    const QString tip = describePort(1, threeDevices());
    QVERIFY2(tip.contains(port.location) && tip.contains(link), qPrintable(tip));

    // Other numbers are still counted among the devices present.
    QCOMPARE(resolvePort(2, threeDevices()).link, QString());
}

void PortResolverTest::danglingLinkStillNamesThePort() {
    // The simulator that made the link has gone: the number does not fall back to some other
    // device, it names the missing one.
    QVERIFY(QDir(runtime_->path()).mkpath(QStringLiteral("tamberlo")));
    const QString gone = runtime_->filePath(QStringLiteral("pts-gone"));
    QVERIFY(QFile::link(gone, portLinkPath(2)));

    const PortDevice port = resolvePort(2, threeDevices());
    QCOMPARE(port.location, gone);
    QVERIFY(!port.exists);
    const QString tip = describePort(2, threeDevices());
    QVERIFY2(tip.contains(gone) && tip.contains(QStringLiteral("不存在")), qPrintable(tip));
}

QTEST_GUILESS_MAIN(PortResolverTest)
#include "tst_port_resolver.moc"
