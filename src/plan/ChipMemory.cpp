#include "plan/ChipMemory.h"

#include "chip/DeviceType.h"

#include <algorithm>
#include <array>

namespace tamberlo::plan {

namespace {

// The device table the panel names its chips from, with each model's last row.
const std::array<ChipMemory, ChipModelTable.size()>& models() {
    static const std::array<ChipMemory, ChipModelTable.size()> table = [] {
        std::array<ChipMemory, ChipModelTable.size()> t{};
        for (std::size_t i = 0; i < ChipModelTable.size(); ++i) {
            const ChipModelRow& row = ChipModelTable[i];
            t[i] = {QString::fromLatin1(row.name.data(), static_cast<qsizetype>(row.name.size())),
                    row.id, row.lastRow};
        }
        // Smallest first, as people list them.
        std::sort(t.begin(), t.end(),
                  [](const ChipMemory& a, const ChipMemory& b) { return a.lastRow < b.lastRow; });
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
