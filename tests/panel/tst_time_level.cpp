// The time text and the five-bar volume-step display.
#include "panel/LevelDisplay.h"
#include "panel/TimeText.h"

#include <QImage>
#include <QtTest>
#include <limits>
#include <memory>

using namespace tamberlo;

class TestTimeLevel : public QObject {
    Q_OBJECT
private slots:
    void timeText_data();
    void timeText();
    void levelDisplay_data();
    void levelDisplay();
    void unlitBarsKeepTheirOutline();
};

void TestTimeLevel::timeText_data() {
    QTest::addColumn<std::int32_t>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0:0:0";
    QTest::newRow("7") << 7 << "0:0:0";
    QTest::newRow("10") << 10 << "0:0:1";
    QTest::newRow("9,960") << 9960 << "0:9:96";
    QTest::newRow("59,999") << 59999 << "0:59:99";
    QTest::newRow("60,000") << 60000 << "1:0:0";
    QTest::newRow("65,432") << 65432 << "1:5:43";
    QTest::newRow("180,000") << 180000 << "3:0:0";
    QTest::newRow("3,723,450, minutes past 59") << 3723450 << "62:3:45";
    QTest::newRow("largest") << std::numeric_limits<std::int32_t>::max() << "35791:23:64";
    // Truncation toward zero: every part carries the sign.
    QTest::newRow("-65,432") << -65432 << "-1:-5:-43";
    QTest::newRow("-50") << -50 << "0:0:-5";
    QTest::newRow("smallest") << std::numeric_limits<std::int32_t>::min() << "-35791:-23:-64";
}

void TestTimeLevel::timeText() {
    QFETCH(std::int32_t, ms);
    QFETCH(QString, text);
    QCOMPARE(DipPlayPosit(ms), text);
}

void TestTimeLevel::levelDisplay_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("lit"); // bars 0 .. lit-1 in their colours
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("1") << 1 << 2;
    QTest::newRow("2") << 2 << 3;
    QTest::newRow("3") << 3 << 4;
    QTest::newRow("4") << 4 << 5;
    QTest::newRow("5") << 5 << 0;
    QTest::newRow("255") << 255 << 0;
}

void TestTimeLevel::levelDisplay() {
    QFETCH(int, step);
    QFETCH(int, lit);
    const QColor colours[] = {QColor(0x00, 0xFF, 0x00), QColor(0xFF, 0xFF, 0x00),
                              QColor(0xFF, 0x00, 0xFF), QColor(0x00, 0x00, 0xFF),
                              QColor(0xFF, 0x00, 0x00)};
    QWidget panel;
    LevelBars bars{};
    for (auto& bar : bars)
        bar = new LevelBar(&panel);
    LevelDisplay display(bars);

    // From all lit, so every bar that must go dark is repainted, not left from before.
    display.SoundDip(4);
    display.SoundDip(static_cast<std::uint8_t>(step));

    for (int i = 0; i < 5; ++i) {
        const QColor expected = i < lit ? colours[i] : bars[i]->palette().color(QPalette::Window);
        QCOMPARE(bars[i]->fill(), expected);
        // Unlit bars stay in place as empty boxes.
        QVERIFY(!bars[i]->isHidden());
    }
}

void TestTimeLevel::unlitBarsKeepTheirOutline() {
    std::array<std::unique_ptr<LevelBar>, 5> owned;
    LevelBars bars{};
    for (std::size_t i = 0; i < bars.size(); ++i) {
        owned[i] = std::make_unique<LevelBar>();
        owned[i]->resize(12, 16);
        bars[i] = owned[i].get();
    }
    SoundDip(bars, 0);
    const QImage lit = bars[0]->grab().toImage();
    const QImage unlit = bars[3]->grab().toImage();
    QCOMPARE(lit.pixelColor(6, 8), QColor(0x00, 0xFF, 0x00));
    QCOMPARE(unlit.pixelColor(6, 8), bars[3]->palette().color(QPalette::Window));
    QCOMPARE(unlit.pixelColor(0, 0), QColor(Qt::black));
    QCOMPARE(unlit.pixelColor(11, 15), QColor(Qt::black));
}

QTEST_MAIN(TestTimeLevel)
#include "tst_time_level.moc"
