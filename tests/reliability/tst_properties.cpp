// The checks of the two fuzz targets (fuzz/StrToHexTarget.h, fuzz/ReceiverTarget.h) on
// 100,000 generated inputs each, from a fixed seed, so that every run of the tests exercises
// them the same way; and the inputs that once broke a check, kept as regression cases.

#include "ReceiverTarget.h"
#include "StrToHexTarget.h"

#include <QElapsedTimer>
#include <QTest>
#include <random>

using namespace tamberlo;
using namespace tamberlo::fuzz;

namespace {

constexpr int InputsPerTarget = 100000;

using Bytes = std::vector<std::uint8_t>;

// Characters address texts are made of: what the parser reads, what it must skip, and text
// that is not ASCII (Chinese, full-width digits, letters and space). Each is one UTF-16 unit.
const std::vector<std::string>& textCharacters() {
    static const std::vector<std::string> characters{
        "0",    "1",        "2",  "5",  "9",  "a",  "b",  "f",  "A",  "C",  "F",
        " ",    " ",        " ",  " ",  "g",  "G",  "x",  "-",  ",",  "\t", "\n",
        "\x7f", "\xc3\xa9", "中", "文", "地", "址", "０", "１", "Ａ", "ｆ", "　"};
    return characters;
}

// A text of `length` UTF-16 units in UTF-8; with `odd`, also characters outside the BMP (two
// units) and broken UTF-8, so the length is only roughly `length`.
std::string randomText(std::mt19937_64& random, std::size_t length, bool odd) {
    static const std::vector<std::string> oddOnes{"😀", "\xe4\xb8", "\xff", "\xed\xa0\x80"};
    const auto& all = textCharacters();
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += odd && random() % 4 == 0 ? oddOnes[random() % oddOnes.size()]
                                         : all[random() % all.size()];
    return text;
}

// A StrToHex input: a flag byte, then a start and an end text split by a NUL. Most texts have
// the five characters the range handlers want, or one fewer or more; some are long.
Bytes strToHexInput(std::mt19937_64& random) {
    Bytes input{static_cast<std::uint8_t>(random())};
    const auto text = [&random]() {
        switch (random() % 10) {
        case 0:
            return randomText(random, random() % 301, false);
        case 1:
            return randomText(random, random() % 12, true);
        case 2:
            return randomText(random, 4 + random() % 3, false);
        default:
            return randomText(random, 5, false);
        }
    };
    std::string both = text();
    both += '\0';
    both += text();
    if (random() % 16 == 0) { // plain bytes now and then
        both.clear();
        for (std::size_t n = random() % 64; n > 0; --n)
            both += static_cast<char>(random());
    }
    input.insert(input.end(), both.begin(), both.end());
    return input;
}

// A receiver input: a script of random operation bytes (every byte means something).
Bytes receiverInput(std::mt19937_64& random) {
    Bytes input(random() % 240);
    for (auto& byte : input)
        byte = static_cast<std::uint8_t>(random());
    return input;
}

QByteArray asBytes(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

} // namespace

class TestProperties : public QObject {
    Q_OBJECT

    std::unique_ptr<Rig> rig_;

private slots:
    void initTestCase() { rig_ = std::make_unique<Rig>(); }
    void cleanupTestCase() { rig_.reset(); }

    void readerAgreesWithTheExamples_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("first");
        QTest::newRow("00 10") << "00 10" << 2 << QByteArray("\x00\x10", 2);
        QTest::newRow("ab cd") << "ab cd" << 2 << QByteArray("\xAB\xCD", 2);
        QTest::newRow("1 2 3") << "1 2 3" << 2 << QByteArray("\x01\x02\x30", 3);
        QTest::newRow("00 1x") << "00 1x" << 1 << QByteArray("\x00\x10", 2);
        QTest::newRow("00 1 ") << "00 1 " << 2 << QByteArray("\x00\x01", 2);
        QTest::newRow("12345") << "12345" << 1 << QByteArray("\x12\x00", 2);
        QTest::newRow("0010 ") << "0010 " << 1 << QByteArray("\x00\x00", 2);
        QTest::newRow("  10 ") << "  10 " << 1 << QByteArray("\x10\x00", 2);
        QTest::newRow("G0 10") << "G0 10" << 2 << QByteArray("\x00\x10", 2);
        QTest::newRow("empty") << "" << 0 << QByteArray("\x00\x00", 2);
        QTest::newRow("full-width") << "０１ ２３" << 0 << QByteArray("\x00\x00", 2);
        QTest::newRow("Chinese around") << "地0址0 中1文0" << 2 << QByteArray("\x00\x10", 2);
    }
    // The second reading of the rules in StrToHexTarget.h is itself checked on the known
    // examples, so that the fuzz target compares against something right.
    void readerAgreesWithTheExamples() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QByteArray, first);
        const ParsedAddress parsed = readAddressText(text);
        QCOMPARE(int(parsed.completed), count);
        QCOMPARE(parsed.bytes.size(), std::size_t(text.size()) + 2);
        for (qsizetype i = 0; i < first.size(); ++i)
            QCOMPARE(parsed.bytes[std::size_t(i)], std::uint8_t(first[i]));
        QCOMPARE(checkStrToHexText(text), std::string());
    }

    void strToHexOnGeneratedInputs() {
        std::mt19937_64 random(20261207);
        QElapsedTimer clock;
        clock.start();
        int framesSent = 0;
        for (int i = 0; i < InputsPerTarget; ++i) {
            const Bytes input = strToHexInput(random);
            const std::string failure = checkStrToHexInput(*rig_, input.data(), input.size());
            QVERIFY2(failure.empty(),
                     qPrintable(QStringLiteral("input %1 (%2): %3")
                                    .arg(i)
                                    .arg(QString::fromLatin1(asBytes(input).toHex(' ')))
                                    .arg(QString::fromStdString(failure))));
            framesSent += rig_->port.wire.empty() ? 0 : 1;
        }
        // The generator must reach the accepted length too, not only the refusals.
        QVERIFY2(framesSent > InputsPerTarget / 10, qPrintable(QString::number(framesSent)));
        qInfo("%d inputs in %lld ms, %d of them sent a range frame", InputsPerTarget,
              clock.elapsed(), framesSent);
    }

    void receiverOnGeneratedInputs() {
        std::mt19937_64 random(7090417);
        QElapsedTimer clock;
        clock.start();
        int withBoxes = 0;
        for (int i = 0; i < InputsPerTarget; ++i) {
            const Bytes input = receiverInput(random);
            const std::string failure = checkReceiverInput(*rig_, input.data(), input.size());
            QVERIFY2(
                failure.empty(),
                qPrintable(
                    QStringLiteral("input %1: %2").arg(i).arg(QString::fromStdString(failure))));
            withBoxes += rig_->boxes.boxes.isEmpty() ? 0 : 1;
        }
        QVERIFY(withBoxes > 0);
        qInfo("%d inputs in %lld ms", InputsPerTarget, clock.elapsed());
    }

    // Inputs kept from fuzzing runs and written by hand for the corners.
    void regressions_data() {
        QTest::addColumn<bool>("receiver");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("empty strtohex") << false << QByteArray();
        QTest::newRow("empty receiver") << true << QByteArray();
        QTest::newRow("five and five") << false
                                       << QByteArray("\x00"
                                                     "00 10\x00"
                                                     "00 20",
                                                     12);
        QTest::newRow("erase six") << false
                                   << QByteArray("\x08"
                                                 "00 10 \x00"
                                                 "00 20",
                                                 13);
        QTest::newRow("Chinese five")
            << false
            << (QByteArray(1, '\x04') + QStringLiteral("中文地址1").toUtf8() + QByteArray(1, '\0') +
                QByteArray("00 20"));
        // DEVID (click 9), bytes armed to come in while a reply box is open (3 bytes), then a
        // reply of 3 bytes: its box lets the second reply in, which completes in turn.
        QTest::newRow("devid nested") << true
                                      << QByteArray("\x00\x09"
                                                    "\x0b\x02\x00\x00\xa0"
                                                    "\x02\x02\x00\x00\x90",
                                                    12);
        // SET_PLAY (click 12), two ticks, then PLAY (click 0) and DEVID (click 9): the rest of
        // the range frame goes out before them, so the bridge never reads an opcode as data.
        QTest::newRow("command during a frame")
            << true << QByteArray("\x00\x0c\x08\x02\x00\x00\x08\x01\x00\x09", 10);
        // Nothing expected and 33 groups of 8 bytes: the count passes 255, meets RecvExpect 0
        // at 256 and starts again.
        QByteArray wrap;
        for (int i = 0; i < 33; ++i)
            wrap += QByteArray("\x02\x07") + QByteArray(8, '\x55');
        QTest::newRow("wrap") << true << wrap;
    }
    void regressions() {
        QFETCH(bool, receiver);
        QFETCH(QByteArray, input);
        const auto* data = reinterpret_cast<const std::uint8_t*>(input.constData());
        const auto size = static_cast<std::size_t>(input.size());
        const std::string failure = receiver ? checkReceiverInput(*rig_, data, size)
                                             : checkStrToHexInput(*rig_, data, size);
        QVERIFY2(failure.empty(), failure.c_str());
    }
};

QTEST_MAIN(TestProperties)
#include "tst_properties.moc"
