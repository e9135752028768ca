#pragma once

#include "chip/DeviceType.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace tamberlo::plan {

// The plan's look-ups in the device table (chip/DeviceType.h). Rows 0x000 to 0x00F hold the
// sound effects, messages go from row 0x010 to the model's last row.
// The model of that name (any letter case), or of that device byte; null when unknown.
const ChipModel* findChipModel(const QString& name);
using tamberlo::findChipModel;
// Every model's name, smallest first.
QStringList chipModelNames();
// The model with the most rows.
const ChipModel* largestChipModel();

// How long a row of chip memory lasts at a sample rate: 125 ms at 8 kHz, 83.3 ms at 12 kHz,
// 156.25 ms at 6.4 kHz, 187.5 ms at 5.3 kHz, 250 ms at 4 kHz (a row holds 1,000 samples).
// Kept as a fraction of milliseconds so that row counts are exact.
struct RowDuration {
    int numerator; // ms = numerator / denominator
    int denominator;
    double ms() const { return double(numerator) / denominator; }
    // Whole rows that hold `ms` milliseconds (rounded up).
    int rowsFor(std::int64_t ms) const;
    // The playing time of `rows` rows, in milliseconds.
    double msOf(int rows) const { return rows * ms(); }
};
// Nothing for a sample rate the chip does not have. 5300 and 5333 both name the 5.3 kHz rate.
std::optional<RowDuration> rowDuration(int sampleRate);
QStringList sampleRateNames();

} // namespace tamberlo::plan
