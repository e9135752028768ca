#include "chip/DeviceType.h"

namespace tamberlo {

QString DeviceType(std::uint8_t inputTypeData) {
    if (const ChipModelRow* model = findChipModel(inputTypeData))
        return QString::fromLatin1(model->name.data(), static_cast<qsizetype>(model->name.size()));
    return QStringLiteral("未知器件");
}

} // namespace tamberlo
