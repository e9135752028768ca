#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tamberlo::bridgesim {

// One member of the chip family: its name, the byte its DEVID command returns and the
// last row of its memory. Rows 0x000 to 0x00F hold the sound effects; messages start
// at row 0x010.
struct DeviceModel {
    std::string_view name;
    std::uint8_t deviceId;
    std::uint16_t lastRow;
};

std::span<const DeviceModel> deviceModels();

// The model of that name, compared without regard to letter case; nullptr if unknown.
const DeviceModel* findDeviceModel(std::string_view name);

// The model the simulator stands in for unless told otherwise: ISD1760.
const DeviceModel& defaultDeviceModel();

} // namespace tamberlo::bridgesim
