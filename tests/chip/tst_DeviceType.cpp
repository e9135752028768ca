// The device names the panel and the command line show for each DEVID byte.

#include "chip/DeviceType.h"

#include <QMap>
#include <QTest>

using namespace tamberlo;

class TestDeviceType : public QObject {
    Q_OBJECT
private slots:
    void deviceTypeOfEveryByte();
};

void TestDeviceType::deviceTypeOfEveryByte() {
    const QMap<int, QString> known{
        {0x80, "ISD1730"},  {0x90, "ISD1720"},  {0xA0, "ISD1760"},  {0xA8, "ISD1750"},
        {0xB0, "ISD1740"},  {0xC0, "ISD17150"}, {0xC8, "ISD17120"}, {0xD0, "ISD1790"},
        {0xE0, "ISD17240"}, {0xE8, "ISD17210"}, {0xF0, "ISD17180"},
    };
    for (int b = 0; b < 256; ++b) {
        const QString expected = known.value(b, QStringLiteral("未知器件"));
        QCOMPARE(DeviceType(static_cast<std::uint8_t>(b)), expected);
    }
}

QTEST_MAIN(TestDeviceType)
#include "tst_DeviceType.moc"
