#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <string_view>

namespace tamberlo {

// Rows below FirstMessageRow hold the chip's own settings; messages use the rows from it to
// the model's last row. Addresses have 11 bits: no model has a row past LastRowOfAny.
inline constexpr std::uint16_t FirstMessageRow = 0x010;
inline constexpr std::uint16_t LastRowOfAny = 0x7FF;

// One chip model of the family: its device-ID byte (third byte of the DEVID reply), its
// name and the last row of its memory (rows count from 0x000; messages use 0x010 onwards).
struct ChipModel {
    std::uint8_t id;
    std::string_view name;
    std::uint16_t lastRow;

    // Rows a message can use: from FirstMessageRow to the last row.
    constexpr int messageRows() const { return lastRow - FirstMessageRow + 1; }
    // The name as DeviceType() gives it ("ISD1760").
    QString nameText() const {
        return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
};

// Every model the device-ID byte can name, in rising byte value.
inline constexpr std::array<ChipModel, 11> ChipModelTable{{
    {0x80, "ISD1730", 0x0FF},
    {0x90, "ISD1720", 0x0AF},
    {0xA0, "ISD1760", 0x1EF},
    {0xA8, "ISD1750", 0x19F},
    {0xB0, "ISD1740", 0x14F},
    {0xC0, "ISD17150", 0x4BF},
    {0xC8, "ISD17120", 0x3CF},
    {0xD0, "ISD1790", 0x2DF},
    {0xE0, "ISD17240", 0x78F},
    {0xE8, "ISD17210", 0x69F},
    {0xF0, "ISD17180", 0x5AF},
}};

// The model of a device-ID byte (the whole byte compared); nullptr for any other byte.
constexpr const ChipModel* findChipModel(std::uint8_t id) {
    for (const ChipModel& model : ChipModelTable) {
        if (model.id == id)
            return &model;
    }
    return nullptr;
}

// The chip model named by the device-ID byte of the DEVID reply ("ISD1760" for 0xA0).
// The whole byte is compared; any byte not in the table, including a known code with one
// of its three lowest bits set, gives "未知器件" (unknown device).
QString DeviceType(std::uint8_t inputTypeData);

} // namespace tamberlo
