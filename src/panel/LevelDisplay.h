#pragma once

#include "widgets/LevelBar.h"

#include <QColor>
#include <array>
#include <cstdint>

namespace tamberlo {

// The five bars of VolicDisPlay, element 0 at the left.
using LevelBars = std::array<LevelBar*, 5>;

// The fixed colour of bar `element` when lit (0 green, 1 yellow, 2 magenta, 3 blue,
// 4 red); an invalid colour for any other element.
QColor levelColour(int element);

// Shows the volume step: bars 0 to SoundVol in their own colours, the rest in the window
// background (an empty box, the outline stays). A step above 4 lights none. Null
// entries are skipped.
void SoundDip(const LevelBars& VolicDisPlay, std::uint8_t SoundVol);

// The volume-step display as the window holds it.
class LevelDisplay {
public:
    explicit LevelDisplay(const LevelBars& bars) : bars_(bars) {}

    void SoundDip(std::uint8_t SoundVol) const { tamberlo::SoundDip(bars_, SoundVol); }
    const LevelBars& VolicDisPlay() const { return bars_; }

private:
    LevelBars bars_;
};

} // namespace tamberlo
