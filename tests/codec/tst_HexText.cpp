#include "codec/HexText.h"

#include <QTest>
#include <array>
#include <vector>

using tamberlo::FindChar;
using tamberlo::HexToString;
using tamberlo::MyRinByteToStr;
using tamberlo::StrToHex;

namespace {
QByteArray bytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}
} // namespace

class TestHexText : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void parseLongTexts_data();
    void parseLongTexts();
    void everyByteRoundTrips();
    void hexToString_data();
    void hexToString();
    void findChar_data();
    void findChar();
    void slices_data();
    void slices();
    void sliceOfReplyBufferNeverReadsPastIt();
};

void TestHexText::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    // The leading elements of HexBytes; the rest must be zero.
    QTest::addColumn<QByteArray>("leading");

    QTest::newRow("start address") << "00 10" << 2 << QByteArray("\x00\x10", 2);
    QTest::newRow("end address") << "00 20" << 2 << QByteArray("\x00\x20", 2);
    QTest::newRow("lower case") << "ab cd" << 2 << QByteArray("\xAB\xCD", 2);
    QTest::newRow("mixed case") << "aB Cd" << 2 << QByteArray("\xAB\xCD", 2);
    QTest::newRow("unfinished last group") << "1 2 3" << 2 << QByteArray("\x01\x02\x30", 3);
    QTest::newRow("x skipped, lone high digit") << "00 1x" << 1 << QByteArray("\x00\x10", 2);
    QTest::newRow("lone digit closed by space") << "00 1 " << 2 << QByteArray("\x00\x01", 2);
    QTest::newRow("surplus digits dropped") << "12345" << 1 << QByteArray("\x12\x00", 2);
    QTest::newRow("no separator") << "0010 " << 1 << QByteArray("\x00\x00", 2);
    QTest::newRow("spaces in a row") << "  10 " << 1 << QByteArray("\x10\x00", 2);
    QTest::newRow("G skipped") << "G0 10" << 2 << QByteArray("\x00\x10", 2);
    QTest::newRow("zz zz") << "zz zz" << 0 << QByteArray("\x00\x00", 2);
    QTest::newRow("empty") << "" << 0 << QByteArray("\x00\x00", 2);
    QTest::newRow("only a space") << " " << 0 << QByteArray("\x00\x00\x00", 3);
    QTest::newRow("tab is no separator") << "00\t10" << 1 << QByteArray("\x00\x00", 2);
    QTest::newRow("no-break space is no separator")
        << QStringLiteral("00\u00A010") << 1 << QByteArray("\x00\x00", 2);
    QTest::newRow("Chinese skipped")
        << QStringLiteral("中文 12 34") << 2 << QByteArray("\x12\x34", 2);
    QTest::newRow("Chinese between digits")
        << QStringLiteral("1中2 34") << 2 << QByteArray("\x12\x34", 2);
    QTest::newRow("full-width digits skipped")
        << QStringLiteral("１２ ３４") << 0 << QByteArray("\x00\x00", 2);
    QTest::newRow("full-width letters are not hex")
        << QStringLiteral("ａｂ cd") << 1 << QByteArray("\xCD\x00", 2);
    QTest::newRow("full-width digit inside a group")
        << QStringLiteral("12 3４ 56") << 3 << QByteArray("\x12\x03\x56", 3);
    QTest::newRow("full-width space is no separator")
        << QStringLiteral("12\u300034") << 1 << QByteArray("\x12\x00", 2);
    QTest::newRow("surrogate pair skipped")
        << QStringLiteral("\U0001F600ab cd") << 2 << QByteArray("\xAB\xCD", 2);
    QTest::newRow("Latin-1 letters skipped")
        << QStringLiteral("é0 1ß") << 1 << QByteArray("\x00\x10", 2);
    QTest::newRow("dotless i does not become a letter")
        << QStringLiteral("\u0131\u01300A") << 1 << QByteArray("\x0A", 1);
}

void TestHexText::parse() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(QByteArray, leading);

    std::vector<std::uint8_t> hexBytes{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    QCOMPARE(int(StrToHex(text, hexBytes)), count);
    // Re-created with indices 0 to text length + 1, all zero except what was parsed.
    QCOMPARE(hexBytes.size(), std::size_t(text.size() + 2));
    QByteArray expected = leading;
    expected.append(QByteArray(static_cast<qsizetype>(hexBytes.size()) - leading.size(), '\0'));
    QCOMPARE(bytes(hexBytes), expected);
}

void TestHexText::parseLongTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastByteIndex"); // -1: no byte to check
    QTest::addColumn<int>("lastByte");

    // 84 groups "FF " and a final "FF": 254 characters, the longest text whose prefixed
    // length still fits a byte.
    QTest::newRow("254 characters") << QString("FF ").repeated(84) + "FF" << 85 << 84 << 0xFF;
    QTest::newRow("255 characters") << QString("12 ").repeated(85) << 85 << 84 << 0x12;
    QTest::newRow("1000 groups, count saturates")
        << QString("12 ").repeated(1000) << 255 << 999 << 0x12;
    QTest::newRow("600 digits without a space") << QString(600, '1') << 1 << 0 << 0x11;
    QTest::newRow("4000 spaces") << QString(4000, ' ') << 0 << -1 << 0;
    QTest::newRow("lone digits") << QString("5 ").repeated(700) << 255 << 699 << 0x05;
}

void TestHexText::parseLongTexts() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(int, lastByteIndex);
    QFETCH(int, lastByte);

    std::vector<std::uint8_t> hexBytes;
    QCOMPARE(int(StrToHex(text, hexBytes)), count);
    QCOMPARE(hexBytes.size(), std::size_t(text.size() + 2));
    if (lastByteIndex >= 0) {
        QCOMPARE(int(hexBytes[lastByteIndex]), lastByte);
        QCOMPARE(int(hexBytes[lastByteIndex + 1]), 0);
    }
}

void TestHexText::everyByteRoundTrips() {
    std::vector<std::uint8_t> hexBytes;
    for (int b = 0; b < 256; ++b) {
        const std::array<std::uint8_t, 1> one{static_cast<std::uint8_t>(b)};
        const QString shown = HexToString(one);
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown, QString::asprintf("%02X ", b));
        QCOMPARE(int(StrToHex(shown, hexBytes)), 1);
        QCOMPARE(int(hexBytes[0]), b);
        QCOMPARE(int(StrToHex(shown.toLower(), hexBytes)), 1);
        QCOMPARE(int(hexBytes[0]), b);
    }
}

void TestHexText::hexToString_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");
    QTest::newRow("two bytes") << QByteArray("\x12\x34", 2) << "12 34 ";
    QTest::newRow("zero padded") << QByteArray("\x0A", 1) << "0A ";
    QTest::newRow("upper case") << QByteArray("\xFF", 1) << "FF ";
    QTest::newRow("reply of a range command")
        << QByteArray("\x00\x00\x10\x00\x20", 5) << "00 00 10 00 20 ";
    QTest::newRow("nothing") << QByteArray() << "";
}

void TestHexText::hexToString() {
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    const std::vector<std::uint8_t> v(data.begin(), data.end());
    QCOMPARE(HexToString(v), text);
}

void TestHexText::findChar_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("code");
    QTest::newRow("0") << 0 << "48";
    QTest::newRow("9") << 9 << "57";
    QTest::newRow("10") << 10 << "65";
    QTest::newRow("15") << 15 << "70";
    QTest::newRow("16 is itself") << 16 << "16";
    QTest::newRow("200 is itself") << 200 << "200";
    QTest::newRow("255 is itself") << 255 << "255";
}

void TestHexText::findChar() {
    QFETCH(int, value);
    QFETCH(QString, code);
    QCOMPARE(FindChar(static_cast<std::uint8_t>(value)), code);
}

void TestHexText::slices_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("text");
    // Over the five bytes 00 11 22 33 44.
    QTest::newRow("pointer bytes") << 2 << 2 << "22 33 ";
    QTest::newRow("current address") << 0 << 2 << "00 11 ";
    QTest::newRow("range reply") << 0 << 5 << "00 11 22 33 44 ";
    QTest::newRow("last byte") << 4 << 1 << "44 ";
    QTest::newRow("runs past the end") << 3 << 4 << "33 44 00 00 ";
    QTest::newRow("starts past the end") << 200 << 3 << "00 00 00 ";
    QTest::newRow("largest slice") << 255 << 255 << QString("00 ").repeated(255);
    QTest::newRow("no bytes") << 1 << 0 << "";
}

void TestHexText::slices() {
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QString, text);
    const std::vector<std::uint8_t> data{0x00, 0x11, 0x22, 0x33, 0x44};
    QCOMPARE(
        MyRinByteToStr(data, static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(length)),
        text);
}

void TestHexText::sliceOfReplyBufferNeverReadsPastIt() {
    // A buffer of the reply buffer's size; the largest slice ends at index 509.
    std::array<std::uint8_t, 513> buffer{};
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i);
    const QString text = MyRinByteToStr(buffer, 255, 255);
    QCOMPARE(text.size(), 765);
    QVERIFY(text.startsWith("FF 00 01 "));
    QVERIFY(text.endsWith("FB FC FD ")); // 509 & 0xFF = 0xFD
}

QTEST_APPLESS_MAIN(TestHexText)
#include "tst_HexText.moc"
