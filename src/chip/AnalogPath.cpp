#include "chip/AnalogPath.h"

#include "chip/Catalogue.h"

namespace tamberlo {

namespace {
constexpr std::uint8_t SwitchBase = 0x0C;    // bits 2 and 3, always set
constexpr std::uint8_t SpeakerOffBit = 0x01; // switch byte, SPKon not checked
constexpr std::uint8_t MonitorBit = 0x08;    // byte 2, SoundMon checked
constexpr std::uint8_t SourceLmBit = 0x10;   // byte 2, source "LM"
constexpr std::uint8_t SourceMicBit = 0x40;  // byte 2, source "Mic"
} // namespace

std::uint8_t volumeCode(std::uint8_t VolLevel) {
    return VolLevel <= 4 ? static_cast<std::uint8_t>(4 - VolLevel) : 0;
}

std::array<std::uint8_t, 3> apcFrame(const AnalogPathSettings& settings) {
    std::array<std::uint8_t, 3> frame{Opcode::WR_APC2, SwitchBase, 0};
    frame[2] = volumeCode(settings.VolLevel);
    if (!settings.speakerOn)
        frame[1] |= SpeakerOffBit;
    if (settings.monitorOn)
        frame[2] |= MonitorBit;
    // Compared exactly, letter case included; "Lin" and anything else add no source bit.
    if (settings.source == QLatin1String("Mic"))
        frame[2] |= SourceMicBit;
    else if (settings.source == QLatin1String("LM"))
        frame[2] |= SourceLmBit;
    return frame;
}

} // namespace tamberlo
