#include "plan/ChipModels.h"

#include "chip/DeviceType.h"

#include <algorithm>
#include <array>

namespace tamberlo::plan {

namespace {

// The device table, smallest first, as people list them.
const std::array<const ChipModel*, ChipModelTable.size()>& bySize() {
    static const std::array<const ChipModel*, ChipModelTable.size()> table = [] {
        std::array<const ChipModel*, ChipModelTable.size()> t{};
        for (std::size_t i = 0; i < ChipModelTable.size(); ++i)
            t[i] = &ChipModelTable[i];
        std::sort(t.begin(), t.end(),
                  [](const ChipModel* a, const ChipModel* b) { return a->lastRow < b->lastRow; });
        return t;
    }();
    return table;
}

} // namespace

const ChipModel* findChipModel(const QString& name) {
    for (const ChipModel* m : bySize()) {
        if (m->nameText().compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return m;
    }
    return nullptr;
}

QStringList chipModelNames() {
    QStringList names;
    for (const ChipModel* m : bySize())
        names << m->nameText();
    return names;
}

const ChipModel* largestChipModel() {
    return bySize().back();
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
