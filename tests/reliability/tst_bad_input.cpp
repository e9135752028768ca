// Whatever the operator types into the window: port numbers that are no port, address texts
// of every length from 0 to 300 characters (ASCII, Chinese, full-width, cut surrogate pairs)
// in every address box, programmatically and by keys. The window is the real Form1, offscreen,
// with the fake serial port for the address texts and the real serial adapter for the port
// numbers; message boxes are recorded.

#include "StrToHexTarget.h"
#include "link/SerialPort.h"
#include "link/Transmitter.h"
#include "panel/Form1.h"
#include "support/Fakes.h"
#include "widgets/Lamp.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace tamberlo;
using tamberlo::test::FakeAudioPlayer;
using tamberlo::test::FakeFileDialog;
using tamberlo::test::FakeMessageBoxes;
using tamberlo::test::FakeSerialPort;

namespace {

// The window with fakes at every platform edge but the serial port, which is the given one
// (null: the real adapter).
struct Window {
    explicit Window(SerialPort* port) : form(Form1::Platform{port, &player, &boxes, &dialog}) {
        form.show();
    }
    template <typename T> T* find(const char* name) {
        T* child = form.findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }
    void click(const char* button) { find<QPushButton>(button)->click(); }
    // Ticks Timer1 until the frame in flight is out.
    void drain() {
        for (int i = 0; i < 8 && form.transmitter().isSending(); ++i)
            form.transmitter().tick();
    }
    bool shownClosed() {
        return find<QPushButton>("Command16")->text() == QStringLiteral("打开串口") &&
               find<Lamp>("Seril_StDig")->fill() == QColor(0xFFFFFF);
    }

    FakeMessageBoxes boxes;
    FakeAudioPlayer player;
    FakeFileDialog dialog;
    Form1 form;
};

struct AddressBox {
    const char* box;
    const char* partner; // the other box of the same command, left at its start-up text
    bool isStart;
    const char* button;
    std::uint8_t opcode;
};

const AddressBox addressBoxes[] = {
    {"St_Play_Text", "St_Play_Text1", true, "set_play_addr", 0x80},
    {"St_Play_Text1", "St_Play_Text", false, "set_play_addr", 0x80},
    {"St_Rec_Text", "St_Rec_Text1", true, "set_rec_addr", 0x81},
    {"St_Rec_Text1", "St_Rec_Text", false, "set_rec_addr", 0x81},
    {"SetEraseText", "SetEraseText1", true, "SetEraseAddrComm", 0x82},
    {"SetEraseText1", "SetEraseText", false, "SetEraseAddrComm", 0x82},
};

// `length` UTF-16 units of a repeated pattern.
QString textOfLength(const QString& pattern, int length) {
    QString text;
    while (text.size() < length)
        text += pattern;
    return text.left(length);
}

// Types text into a box as the operator does: ASCII by keys, anything else as the input
// method commits it, one character at a time.
void type(QLineEdit* edit, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(edit, static_cast<char>(ch.unicode()));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(ch));
            QApplication::sendEvent(edit, &commit);
        }
    }
}

QByteArray bytes(std::initializer_list<std::uint8_t> list) {
    QByteArray out;
    for (std::uint8_t b : list)
        out.append(static_cast<char>(b));
    return out;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT
private slots:
    // A port text that is no usable port: the panel stays Closed and says why, once.
    void portTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reason");
        QTest::newRow("x") << "x" << QStringLiteral("“x”不是整数");
        QTest::newRow("empty") << "" << QStringLiteral("没有填写串口号");
        QTest::newRow("70000") << "70000" << QStringLiteral("超出串口号的范围");
        QTest::newRow("-1") << "-1" << QStringLiteral("串口号须大于 0");
        QTest::newRow("0") << "0" << QStringLiteral("串口号须大于 0");
        QTest::newRow("99") << "99" << QStringLiteral("没有对应的设备");
        QTest::newRow("full-width 1") << QStringLiteral("１") << QStringLiteral("不是整数");
        QTest::newRow("20 digits") << "99999999999999999999" << QStringLiteral("超出串口号的范围");
        QTest::newRow("1.5") << "1.5" << QStringLiteral("不是整数");
    }
    void portTexts() {
        QFETCH(QString, text);
        QFETCH(QString, reason);
        Window w(nullptr); // the real serial adapter
        w.find<QComboBox>("Combo1")->setEditText(text);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            w.click("Command16");
            QVERIFY(w.shownClosed());
            QVERIFY(!w.form.port().isOpen());
            QCOMPARE(w.boxes.boxes.size(), attempt);
            const auto& box = w.boxes.boxes.last();
            QCOMPARE(box.title, QStringLiteral("串口状态"));
            QCOMPARE(box.icon, MessageIcon::Critical);
            QVERIFY2(box.text.startsWith(QStringLiteral("串口打开失败")), qPrintable(box.text));
            QVERIFY2(box.text.contains(reason), qPrintable(box.text));
        }
        // The panel goes on as with any closed port.
        w.click("devid_id");
        QCOMPARE(w.boxes.boxes.last().text, QStringLiteral("串口没打开"));
        QVERIFY(!w.form.transmitter().isSending());
    }

    // Every length from 0 to 300 in every address box. Shorter than five characters: the
    // "数据格式非法" box and nothing sent; longer: nothing at all; exactly five: the frame,
    // whatever the characters (only the length is checked, StrToHex skips what is not hex).
    void addressTextsOfEveryLength_data() {
        QTest::addColumn<QString>("pattern");
        QTest::newRow("hex") << "0a1B 2c3D4e 5F";
        QTest::newRow("Chinese") << QStringLiteral("中文地址录音");
        QTest::newRow("full-width") << QStringLiteral("０１２３ＡＢ　ｃｄ");
        QTest::newRow("mixed") << QStringLiteral("0中1 Ａ2");
        // Characters outside the BMP take two units; cut anywhere, a lone half stays behind.
        QTest::newRow("surrogate pairs") << QStringLiteral("😀1🎵");
    }
    void addressTextsOfEveryLength() {
        QFETCH(QString, pattern);
        FakeSerialPort port;
        Window w(&port);
        w.find<QComboBox>("Combo1")->setEditText(QStringLiteral("1"));
        w.click("Command16");
        QVERIFY(port.isOpen());

        int frames = 0;
        for (const AddressBox& a : addressBoxes) {
            QLineEdit* box = w.find<QLineEdit>(a.box);
            QLineEdit* partner = w.find<QLineEdit>(a.partner);
            const QString partnerText =
                a.isStart ? QStringLiteral("00 20") : QStringLiteral("00 10");
            for (int length = 0; length <= 300; ++length) {
                const QString text = textOfLength(pattern, length);
                partner->setText(partnerText);
                box->setText(text);
                QCOMPARE(box->text(), text); // the program's text is shown whole
                w.boxes.boxes.clear();
                port.written.clear();
                w.click(a.button);
                w.drain();
                const QString where = QStringLiteral("%1, length %2").arg(a.box).arg(length);
                if (length < ChipCommands::AddressChars) {
                    QVERIFY2(w.boxes.boxes.size() == 1, qPrintable(where));
                    QCOMPARE(w.boxes.boxes[0].text, QStringLiteral("数据格式非法"));
                    QCOMPARE(w.boxes.boxes[0].title, QStringLiteral("错误"));
                    QCOMPARE(w.boxes.boxes[0].icon, MessageIcon::Critical);
                    QVERIFY2(port.written.isEmpty(), qPrintable(where));
                } else if (length > ChipCommands::AddressChars) {
                    QVERIFY2(w.boxes.boxes.isEmpty(), qPrintable(where));
                    QVERIFY2(port.written.isEmpty(), qPrintable(where));
                } else {
                    QVERIFY2(w.boxes.boxes.isEmpty(), qPrintable(where));
                    const fuzz::ParsedAddress start =
                        fuzz::readAddressText(a.isStart ? text : partnerText);
                    const fuzz::ParsedAddress end =
                        fuzz::readAddressText(a.isStart ? partnerText : text);
                    QCOMPARE(port.written, bytes({a.opcode, start.bytes[0], start.bytes[1],
                                                  end.bytes[0], end.bytes[1]}));
                    ++frames;
                }
            }
            box->setText(a.isStart ? QStringLiteral("00 10") : QStringLiteral("00 20"));
        }
        // Surrogate pairs make some lengths' texts end in half a character; every pattern
        // reaches five units in each of the six boxes.
        QCOMPARE(frames, 6);
    }

    // Typed by keys: the play and record boxes take at most five characters, the erase boxes
    // any number.
    void typedAddresses_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("frame"); // empty: nothing sent
        QTest::addColumn<bool>("refused");     // the "数据格式非法" box
        QTest::newRow("play, 8 typed") << "St_Play_Text"
                                       << "00 30 99"
                                       << "00 30" << bytes({0x80, 0x00, 0x30, 0x00, 0x20}) << false;
        QTest::newRow("record end, Chinese")
            << "St_Rec_Text1" << QStringLiteral("中文地址录音") << QStringLiteral("中文地址录")
            << bytes({0x81, 0x00, 0x10, 0x00, 0x00}) << false;
        QTest::newRow("record start, full-width")
            << "St_Rec_Text" << QStringLiteral("０１ ２３") << QStringLiteral("０１ ２３")
            << bytes({0x81, 0x00, 0x00, 0x00, 0x20}) << false;
        QTest::newRow("erase, 8 typed") << "SetEraseText"
                                        << "00 30 99"
                                        << "00 30 99" << QByteArray() << false;
        QTest::newRow("erase end, 2 typed") << "SetEraseText1"
                                            << "7f"
                                            << "7f" << QByteArray() << true;
        QTest::newRow("erase, five Chinese")
            << "SetEraseText" << QStringLiteral("擦除地址一") << QStringLiteral("擦除地址一")
            << bytes({0x82, 0x00, 0x00, 0x00, 0x20}) << false;
    }
    void typedAddresses() {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QByteArray, frame);
        QFETCH(bool, refused);
        FakeSerialPort port;
        Window w(&port);
        w.find<QComboBox>("Combo1")->setEditText(QStringLiteral("1"));
        w.click("Command16");
        QLineEdit* edit = w.find<QLineEdit>(box.toLatin1().constData());
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        type(edit, typed);
        QCOMPARE(edit->text(), shown);

        const char* button = box.startsWith(QLatin1String("St_Play"))  ? "set_play_addr"
                             : box.startsWith(QLatin1String("St_Rec")) ? "set_rec_addr"
                                                                       : "SetEraseAddrComm";
        w.boxes.boxes.clear();
        w.click(button);
        w.drain();
        QCOMPARE(port.written, frame);
        QCOMPARE(w.boxes.boxes.size(), refused ? 1 : 0);
        if (refused)
            QCOMPARE(w.boxes.boxes[0].text, QStringLiteral("数据格式非法"));
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_bad_input.moc"
