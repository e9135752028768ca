#pragma once

#include <QString>
#include <cstdint>

namespace tamberlo {

// The chip model named by the device-ID byte of the DEVID reply ("ISD1760" for 0xA0).
// The whole byte is compared; any byte not in the table, including a known code with one
// of its three lowest bits set, gives "未知器件" (unknown device).
QString DeviceType(std::uint8_t inputTypeData);

} // namespace tamberlo
