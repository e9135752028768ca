#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace tamberlo {

// The analog path configuration as the operator sets it on the window.
struct AnalogPathSettings {
    std::uint8_t VolLevel = 4; // volume step 0..4 (4 = loudest)
    bool speakerOn = false;    // SPKon checked
    bool monitorOn = false;    // SoundMon checked
    QString source;            // text of sound_in: "Lin", "Mic" or "LM"
};

// Volume bits of the APC byte: 4 - VolLevel for steps 0..4, 0 for any other step.
std::uint8_t volumeCode(std::uint8_t VolLevel);

// The APC write frame: 0x65; the switch byte (0x0C, plus 0x01 when the speaker is off);
// the volume/monitor/source byte (volume code, 0x08 monitor, 0x40 for exactly "Mic",
// 0x10 for exactly "LM"; any other source text, in any letter case, counts as "Lin").
std::array<std::uint8_t, 3> apcFrame(const AnalogPathSettings& settings);

// The volume button's step: 4, 0, 1, 2, 3, 4, ... (a step above 4 also wraps to 0).
constexpr std::uint8_t nextVolLevel(std::uint8_t VolLevel) {
    return VolLevel >= 4 ? 0 : static_cast<std::uint8_t>(VolLevel + 1);
}

} // namespace tamberlo
