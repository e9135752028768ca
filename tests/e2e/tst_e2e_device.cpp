// The panel against the simulated bridge board, end to end: bringing the chip up and
// asking its type, reading the pointers and the current row, the adapter pulled while a
// frame goes out, and ports that cannot be opened. Each case runs its own simulator.

#include "e2e/SimulatorRig.h"
#include "link/Transmitter.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace tamberlo;
using namespace tamberlo::e2e;

class TestE2eDevice : public QObject {
    Q_OBJECT

    Rig rig_{21};

private slots:
    void initTestCase() { QVERIFY(rig_.init()); }
    void cleanup() { rig_.cleanup(); }

    void bringUpShowsTheDeviceType_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("type");
        QTest::newRow("default model") << QStringList{} << QStringLiteral("ISD1760");
        QTest::newRow("ISD17240") << QStringList{QStringLiteral("--model"),
                                                 QStringLiteral("ISD17240")}
                                  << QStringLiteral("ISD17240");
        QTest::newRow("ISD1730") << QStringList{QStringLiteral("--model"),
                                                QStringLiteral("isd1730")}
                                 << QStringLiteral("ISD1730");
        // The reply in single bytes, or long after the frame: the panel counts bytes
        // across notifications and has no time-out.
        QTest::newRow("reply split")
            << QStringList{QStringLiteral("--split-ms"), QStringLiteral("60")}
            << QStringLiteral("ISD1760");
        QTest::newRow("reply delayed")
            << QStringList{QStringLiteral("--reply-delay-ms"), QStringLiteral("400")}
            << QStringLiteral("ISD1760");
    }
    void bringUpShowsTheDeviceType() {
        QFETCH(QStringList, options);
        QFETCH(QString, type);
        QVERIFY(rig_.startSimulator(options));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.boxes.boxes.isEmpty());

        QVERIFY(p.click(QStringLiteral("1器件复位")));
        QVERIFY(p.lit(QStringLiteral("Bottmp(4)")));
        QVERIFY(p.click(QStringLiteral("2器件上电")));
        QVERIFY(p.lit(QStringLiteral("Bottmp(3)")));
        QVERIFY(!p.lit(QStringLiteral("Bottmp(4)")));
        QVERIFY(p.click(QStringLiteral("3器件ID")));

        QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), 1, ReplyMs);
        const auto box = p.boxes.boxes.front();
        QCOMPARE(box.title, QStringLiteral("器件类型"));
        QCOMPARE(box.text, type);
        QCOMPARE(box.icon, MessageIcon::Information);
        QVERIFY(p.lit(QStringLiteral("Bottmp(1)")));
        QVERIFY(!p.lit(QStringLiteral("Bottmp(3)")));
        QVERIFY(!p.lit(QStringLiteral("Bottmp(4)")));

        // The chip got the three opcodes in order, took them all, and was powered up when
        // DEVID came in: SR0's low byte in the reply carries PU (bit 2).
        const QList<LoggedByte> in = rig_.sim->received();
        QCOMPARE(in.size(), 3);
        QCOMPARE(in[0].value, quint8(0x03));
        QCOMPARE(in[1].value, quint8(0x01));
        QCOMPARE(in[2].value, quint8(0x09));
        for (const LoggedByte& b : in)
            QVERIFY2(!b.refused(), qPrintable(b.note));
        QList<LoggedByte> out;
        for (const LoggedByte& b : rig_.sim->log())
            if (b.direction == QLatin1String("out"))
                out.push_back(b);
        QCOMPARE(out.size(), 3);
        QVERIFY(out[0].value & 0x04);
    }

    // After reset and power-up both pointers and the current row are at 0x010, and each
    // read shows its two address bytes in its own box, lighting its own lamp.
    void pointersAndCurrentRowAfterPowerUp_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("lamp");
        QTest::newRow("play pointer") << QStringLiteral("读播放地址") << QStringLiteral("Play_Text")
                                      << QStringLiteral("Right(0)");
        QTest::newRow("record pointer") << QStringLiteral("读录音地址")
                                        << QStringLiteral("Rec_Text") << QStringLiteral("Right(1)");
        QTest::newRow("current row") << QStringLiteral("当前地址") << QStringLiteral("CurrentRow")
                                     << QStringLiteral("Lift(6)");
    }
    void pointersAndCurrentRowAfterPowerUp() {
        QFETCH(QString, button);
        QFETCH(QString, box);
        QFETCH(QString, lamp);
        QVERIFY(rig_.startSimulator());
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));
        QVERIFY(p.resetAndPowerUp());

        QCOMPARE(p.readInto(button, box), QStringLiteral("00 10 "));
        QVERIFY(p.lit(lamp));
        QVERIFY(!p.lit(QStringLiteral("Bottmp(3)")));
        // A second read of the same kind counts afresh and shows the same.
        QCOMPARE(p.readInto(button, box), QStringLiteral("00 10 "));
        QVERIFY(p.boxes.boxes.isEmpty());
    }

    // Closing and reopening the port sends nothing, and the link works again afterwards.
    void closeAndReopen() {
        QVERIFY(rig_.startSimulator());
        Panel& p = rig_.newPanel();
        for (int round = 1; round <= 2; ++round) {
            QVERIFY(p.openPort(rig_.sim->port()));
            QVERIFY(p.click(QStringLiteral("3器件ID")));
            QTRY_COMPARE_WITH_TIMEOUT(p.boxes.boxes.size(), round, ReplyMs);
            QCOMPARE(p.boxes.boxes.last().text, QStringLiteral("ISD1760"));
            p.clickPortButton(rig_.sim->port());
            QVERIFY(p.isShownClosed());
            QVERIFY(!p.form().port().isOpen());
        }
        QCOMPARE(rig_.sim->received().size(), 2);
        QVERIFY(rig_.sim->isRunning());
    }

    // The adapter is pulled after the third byte of a five-byte frame: the panel closes
    // the port by itself, says so once, and the rest of the frame is dropped.
    void hangUpReturnsThePanelToClosed() {
        QVERIFY(rig_.startSimulator({QStringLiteral("--hangup-after"), QStringLiteral("3")}));
        Panel& p = rig_.newPanel();
        QVERIFY(p.openPort(rig_.sim->port()));

        // How soon the hang-up is noticed is a figure of bench/linkfaults.
        p.button(QStringLiteral("设置播放地址"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(p.isShownClosed(), 15000);
        QVERIFY(!p.form().port().isOpen());
        QVERIFY(!p.form().transmitter().isSending());

        QCOMPARE(p.boxes.boxes.size(), 1);
        QCOMPARE(p.boxes.boxes[0].text, QStringLiteral("串口已断开"));
        QCOMPARE(p.boxes.boxes[0].title, QStringLiteral("串口状态"));
        QCOMPARE(p.boxes.boxes[0].icon, MessageIcon::Critical);

        QTRY_VERIFY_WITH_TIMEOUT(!rig_.sim->isRunning(), 15000);
        QCOMPARE(rig_.sim->process().exitCode(), 0);
        QCOMPARE(rig_.sim->received().size(), 3);

        // No second notice turns up later (the presence check runs every 500 ms), and the
        // panel is really closed: a command is refused as on any closed port.
        QTest::qWait(1200);
        QCOMPARE(p.boxes.boxes.size(), 1);
        p.button(QStringLiteral("3器件ID"))->click();
        QCOMPARE(p.boxes.boxes.size(), 2);
        QCOMPARE(p.boxes.boxes[1].text, QStringLiteral("串口没打开"));
        QVERIFY(p.isShownClosed());
    }

    // Ports that cannot be opened: a number that stands for no device, and one a first
    // panel holds. The open fails with a notice and the panel stays Closed; a first panel
    // keeps working.
    void portThatCannotBeOpenedStaysClosed_data() {
        QTest::addColumn<bool>("heldByAFirstPanel");
        QTest::newRow("no device") << false;
        QTest::newRow("held by a first panel") << true;
    }
    void portThatCannotBeOpenedStaysClosed() {
        QFETCH(bool, heldByAFirstPanel);
        int port = 32000;
        Panel* first = nullptr;
        if (heldByAFirstPanel) {
            QVERIFY(rig_.startSimulator());
            port = rig_.sim->port();
            first = &rig_.newPanel();
            QVERIFY(first->openPort(port));
        }

        Panel p;
        p.clickPortButton(port);
        QVERIFY(p.isShownClosed());
        QVERIFY(!p.form().port().isOpen());
        QCOMPARE(p.boxes.boxes.size(), 1);
        QVERIFY2(p.boxes.boxes[0].text.startsWith(QStringLiteral("串口打开失败")),
                 qPrintable(p.boxes.boxes[0].text));
        QCOMPARE(p.boxes.boxes[0].title, QStringLiteral("串口状态"));
        QCOMPARE(p.boxes.boxes[0].icon, MessageIcon::Critical);
        qInfo("told: %s", qPrintable(p.boxes.boxes[0].text));

        if (first) {
            QVERIFY(first->isShownOpen());
            QVERIFY(first->click(QStringLiteral("3器件ID")));
            QTRY_COMPARE_WITH_TIMEOUT(first->boxes.boxes.size(), 1, ReplyMs);
            QCOMPARE(first->boxes.boxes[0].text, QStringLiteral("ISD1760"));
        }
    }
};

QTEST_MAIN(TestE2eDevice)
#include "tst_e2e_device.moc"
