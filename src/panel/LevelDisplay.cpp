#include "panel/LevelDisplay.h"

#include <QPalette>

namespace tamberlo {

QColor levelColour(int element) {
    static constexpr QRgb colours[] = {0x00FF00, 0xFFFF00, 0xFF00FF, 0x0000FF, 0xFF0000};
    if (element < 0 || element >= static_cast<int>(std::size(colours)))
        return {};
    return QColor::fromRgb(colours[element]);
}

void SoundDip(const LevelBars& VolicDisPlay, std::uint8_t SoundVol) {
    for (std::size_t i = 0; i < VolicDisPlay.size(); ++i) {
        LevelBar* bar = VolicDisPlay[i];
        if (!bar)
            continue;
        const bool lit = SoundVol < VolicDisPlay.size() && i <= SoundVol;
        bar->setFill(lit ? levelColour(static_cast<int>(i))
                         : bar->palette().color(QPalette::Window));
    }
}

} // namespace tamberlo
