#include "DeviceModels.h"

#include <array>
#include <cctype>

namespace tamberlo::bridgesim {

namespace {

constexpr std::array<DeviceModel, 11> kModels{{
    {"ISD1730", 0x80, 0x0FF},
    {"ISD1720", 0x90, 0x0AF},
    {"ISD1760", 0xA0, 0x1EF},
    {"ISD1750", 0xA8, 0x19F},
    {"ISD1740", 0xB0, 0x14F},
    {"ISD17150", 0xC0, 0x4BF},
    {"ISD17120", 0xC8, 0x3CF},
    {"ISD1790", 0xD0, 0x2DF},
    {"ISD17240", 0xE0, 0x78F},
    {"ISD17210", 0xE8, 0x69F},
    {"ISD17180", 0xF0, 0x5AF},
}};

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

std::span<const DeviceModel> deviceModels() {
    return kModels;
}

const DeviceModel* findDeviceModel(std::string_view name) {
    for (const DeviceModel& model : kModels) {
        if (sameIgnoringCase(model.name, name))
            return &model;
    }
    return nullptr;
}

const DeviceModel& defaultDeviceModel() {
    return kModels[2];
}

} // namespace tamberlo::bridgesim
