#include "plan/ChipMemory.h"

#include "chip/DeviceType.h"

#include <array>

namespace tamberlo::plan {

namespace {

struct ModelRow {
    std::uint8_t deviceId;
    int lastRow;
};

// The last rows by device byte; the names come from DeviceType, the table the panel
// shows its device names from.
constexpr std::array<ModelRow, 11> LastRows{{
    {0x90, 0x0AF}, // ISD1720
    {0x80, 0x0FF}, // ISD1730
    {0xB0, 0x14F}, // ISD1740
    {0xA8, 0x19F}, // ISD1750
    {0xA0, 0x1EF}, // ISD1760
    {0xD0, 0x2DF}, // ISD1790
    {0xC8, 0x3CF}, // ISD17120
    {0xC0, 0x4BF}, // ISD17150
    {0xF0, 0x5AF}, // ISD17180
    {0xE8, 0x69F}, // ISD17210
    {0xE0, 0x78F}, // ISD17240
}};

const std::array<ChipMemory, 11>& models() {
    static const std::array<ChipMemory, 11> table = [] {
        std::array<ChipMemory, 11> t{};
        for (std::size_t i = 0; i < LastRows.size(); ++i)
            t[i] = {DeviceType(LastRows[i].deviceId), LastRows[i].deviceId, LastRows[i].lastRow};
        return t;
    }();
    return table;
}

} // namespace

const ChipMemory* findChipMemory(const QString& name) {
    for (const ChipMemory& m : models()) {
        if (m.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return &m;
    }
    return nullptr;
}

const ChipMemory* findChipMemory(std::uint8_t deviceId) {
    for (const ChipMemory& m : models()) {
        if (m.deviceId == deviceId)
            return &m;
    }
    return nullptr;
}

QStringList chipModelNames() {
    QStringList names;
    for (const ChipMemory& m : models())
        names << m.name;
    return names;
}

int RowDuration::rowsFor(std::int64_t ms) const {
    if (ms <= 0)
        return 0;
    // ceil(ms / (numerator / denominator))
    return static_cast<int>((ms * denominator + numerator - 1) / numerator);
}

std::optional<RowDuration> rowDuration(int sampleRate) {
    switch (sampleRate) {
    case 12000:
        return RowDuration{250, 3};
    case 8000:
        return RowDuration{125, 1};
    case 6400:
        return RowDuration{625, 4};
    case 5300:
    case 5333:
        return RowDuration{375, 2};
    case 4000:
        return RowDuration{250, 1};
    default:
        return std::nullopt;
    }
}

QStringList sampleRateNames() {
    return {QStringLiteral("12000"), QStringLiteral("8000"), QStringLiteral("6400"),
            QStringLiteral("5300"), QStringLiteral("4000")};
}

} // namespace tamberlo::plan
