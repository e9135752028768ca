#include "chip/DeviceType.h"

#include <QCoreApplication>

namespace tamberlo {

QString DeviceType(std::uint8_t inputTypeData) {
    if (const ChipModel* model = findChipModel(inputTypeData))
        return model->nameText();
    return QCoreApplication::translate("DeviceType", "未知器件");
}

} // namespace tamberlo
