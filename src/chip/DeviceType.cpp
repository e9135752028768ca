#include "chip/DeviceType.h"

#include <QCoreApplication>

namespace tamberlo {

QString DeviceType(std::uint8_t inputTypeData) {
    switch (inputTypeData) {
    case 0x80:
        return QStringLiteral("ISD1730");
    case 0x90:
        return QStringLiteral("ISD1720");
    case 0xA0:
        return QStringLiteral("ISD1760");
    case 0xA8:
        return QStringLiteral("ISD1750");
    case 0xB0:
        return QStringLiteral("ISD1740");
    case 0xC0:
        return QStringLiteral("ISD17150");
    case 0xC8:
        return QStringLiteral("ISD17120");
    case 0xD0:
        return QStringLiteral("ISD1790");
    case 0xE0:
        return QStringLiteral("ISD17240");
    case 0xE8:
        return QStringLiteral("ISD17210");
    case 0xF0:
        return QStringLiteral("ISD17180");
    default:
        return QCoreApplication::translate("DeviceType", "未知器件");
    }
}

} // namespace tamberlo
