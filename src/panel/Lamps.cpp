#include "panel/Lamps.h"

#include "widgets/Lamp.h"

#include <QObject>

namespace tamberlo {

namespace {

QString groupName(LampGroup group) {
    switch (group) {
    case LampGroup::Bottmp:
        return QStringLiteral("Bottmp");
    case LampGroup::Lift:
        return QStringLiteral("Lift");
    case LampGroup::Right:
        return QStringLiteral("Right");
    }
    return {};
}

template <std::size_t N> Lamp* element(const std::array<Lamp*, N>& group, std::uint8_t index) {
    return index < N ? group[index] : nullptr;
}

} // namespace

QString lampName(LampRef lamp) {
    return QStringLiteral("%1(%2)").arg(groupName(lamp.group)).arg(lamp.index);
}

QColor lampColour(LampRef lamp) {
    for (const LampColour& entry : LampColours) {
        if (entry.lamp == lamp)
            return QColor(entry.rgb);
    }
    return {};
}

Lamp* Lamps::at(LampRef lamp) const {
    switch (lamp.group) {
    case LampGroup::Bottmp:
        return lamp.index == 2 ? nullptr : element(Bottmp, lamp.index);
    case LampGroup::Lift:
        return element(Lift, lamp.index);
    case LampGroup::Right:
        return element(Right, lamp.index);
    }
    return nullptr;
}

void Lamps::show(LampRef lamp) const {
    if (Lamp* widget = at(lamp))
        widget->setVisible(true);
}

void Lamps::CriDigClr() const {
    for (const LampRef lamp : CommandLamps) {
        if (Lamp* widget = at(lamp))
            widget->setVisible(false);
    }
}

void Lamps::applyColours() const {
    for (const LampColour& entry : LampColours) {
        if (Lamp* widget = at(entry.lamp))
            widget->setFill(QColor(entry.rgb));
    }
}

Lamps Lamps::find(const QObject& root) {
    Lamps lamps;
    const auto lookUp = [&root](LampRef lamp) { return root.findChild<Lamp*>(lampName(lamp)); };
    for (std::uint8_t i = 0; i < lamps.Bottmp.size(); ++i) {
        if (i != 2)
            lamps.Bottmp[i] = lookUp({LampGroup::Bottmp, i});
    }
    for (std::uint8_t i = 0; i < lamps.Lift.size(); ++i)
        lamps.Lift[i] = lookUp({LampGroup::Lift, i});
    for (std::uint8_t i = 0; i < lamps.Right.size(); ++i)
        lamps.Right[i] = lookUp({LampGroup::Right, i});
    return lamps;
}

} // namespace tamberlo
