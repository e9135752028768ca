#pragma once

#include "chip/Catalogue.h"

#include <QColor>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class QObject;

namespace tamberlo {

class Lamp;

// The three groups of command lamps, named after their control arrays.
enum class LampGroup : std::uint8_t { Bottmp, Lift, Right };

// One lamp: its group and its index in the group, e.g. {Lift, 1} is Lift(1).
struct LampRef {
    LampGroup group;
    std::uint8_t index;

    friend constexpr bool operator==(LampRef, LampRef) = default;
};

// "Bottmp(4)", "Lift(0)": the lamp's object name and accessible name on the window.
QString lampName(LampRef lamp);

// The fixed fill colour of every lamp of the three groups (Bottmp has no element 2).
struct LampColour {
    LampRef lamp;
    QRgb rgb;
};
inline constexpr std::array<LampColour, 16> LampColours{{
    {{LampGroup::Bottmp, 0}, 0xFF00FF}, // beside si_ok, the analog-path lamp
    {{LampGroup::Bottmp, 1}, 0xFFFF00},
    {{LampGroup::Bottmp, 3}, 0xFFFF00},
    {{LampGroup::Bottmp, 4}, 0xFFFF00},
    {{LampGroup::Lift, 0}, 0x00FF00},
    {{LampGroup::Lift, 1}, 0x000000},
    {{LampGroup::Lift, 2}, 0xFF0000},
    {{LampGroup::Lift, 3}, 0x0000FF},
    {{LampGroup::Lift, 4}, 0x0000FF},
    {{LampGroup::Lift, 5}, 0x0000FF},
    {{LampGroup::Lift, 6}, 0x0000FF},
    {{LampGroup::Right, 0}, 0x00C000},
    {{LampGroup::Right, 1}, 0x00C000},
    {{LampGroup::Right, 2}, 0x00C000},
    {{LampGroup::Right, 3}, 0x00C000},
    {{LampGroup::Right, 4}, 0x00C000},
}};

// The colour of a lamp of the table; an invalid QColor for a lamp that does not exist.
QColor lampColour(LampRef lamp);

// The fifteen command lamps in the order CriDigClr hides them. Bottmp(0), the analog-path
// lamp, is not one of them.
inline constexpr std::array<LampRef, 15> CommandLamps{{
    {LampGroup::Bottmp, 1},
    {LampGroup::Bottmp, 3},
    {LampGroup::Bottmp, 4},
    {LampGroup::Lift, 0},
    {LampGroup::Lift, 1},
    {LampGroup::Lift, 2},
    {LampGroup::Lift, 3},
    {LampGroup::Lift, 4},
    {LampGroup::Lift, 5},
    {LampGroup::Lift, 6},
    {LampGroup::Right, 0},
    {LampGroup::Right, 1},
    {LampGroup::Right, 2},
    {LampGroup::Right, 3},
    {LampGroup::Right, 4},
}};

// The lamp each command's click shows after all command lamps were hidden, in the order of
// CommandCatalogue; nullopt: the click neither hides nor shows a lamp (stop and rec leave the
// lamps to their replies).
inline constexpr std::array<std::optional<LampRef>, CommandCatalogue.size()> CommandLampTable{{
    LampRef{LampGroup::Lift, 0},   // play
    std::nullopt,                  // stop
    std::nullopt,                  // rec
    LampRef{LampGroup::Lift, 3},   // fwd
    LampRef{LampGroup::Lift, 4},   // erase
    LampRef{LampGroup::Lift, 5},   // erase_all
    LampRef{LampGroup::Lift, 6},   // CurrentRowComm
    LampRef{LampGroup::Bottmp, 4}, // devid_rst
    LampRef{LampGroup::Bottmp, 3}, // devid_pu
    LampRef{LampGroup::Bottmp, 1}, // devid_id
    LampRef{LampGroup::Right, 0},  // rd_play_addr
    LampRef{LampGroup::Right, 1},  // rd_rec_addr
    LampRef{LampGroup::Right, 2},  // set_play_addr
    LampRef{LampGroup::Right, 3},  // set_rec_addr
    LampRef{LampGroup::Right, 4},  // SetEraseAddrComm
    LampRef{LampGroup::Bottmp, 0}, // si_ok
}};

constexpr std::optional<LampRef> commandLamp(Command command) {
    return CommandLampTable[static_cast<std::size_t>(command)];
}

// The lamp widgets of the window, indexed like their control arrays. Bottmp has no
// element 2; that slot stays null. The window owns the widgets.
struct Lamps {
    std::array<Lamp*, 5> Bottmp{};
    std::array<Lamp*, 7> Lift{};
    std::array<Lamp*, 5> Right{};

    // The widget of a lamp; null for Bottmp(2), an index out of range or a missing lamp.
    Lamp* at(LampRef lamp) const;

    // Makes one lamp visible (nothing for a missing lamp).
    void show(LampRef lamp) const;

    // Hides the fifteen command lamps, one after another in the order of CommandLamps.
    // Bottmp(0) is left as it is.
    void CriDigClr() const;

    // Gives every lamp its fill colour from LampColours.
    void applyColours() const;

    // Looks the lamps up among the children of root by their names ("Lift(0)", ...).
    static Lamps find(const QObject& root);
};

} // namespace tamberlo
