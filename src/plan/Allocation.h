#pragma once

#include "plan/ChipModels.h"
#include "plan/Plan.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tamberlo::plan {

// What the length measurement found for one message's file.
struct MeasuredFile {
    std::optional<int> lengthMs; // nothing: missing or unplayable
    QString problem;             // why, when there is no length
};

// One message with its rows.
struct PlacedMessage {
    int number = 0; // from 1, in plan order
    QString name;
    QString identifier; // the C identifier the header uses
    QString file;
    QString path;
    int lengthMs = 0;
    int rows = 0;
    int start = 0;
    int end = 0; // inclusive
};

// The plan laid out in rows, or the reasons it cannot be.
//
// Rows: a message gets ceil((length + margin) / row duration) rows unless the plan fixes
// its number, placed after the previous message (from the plan's first row) unless the
// plan fixes its start.
//
// The margin (700 ms unless the plan says otherwise) covers what a recording holds beyond
// the file: the chip records from the end of the SET_REC frame, the file's first sample
// comes out of the PC's output 130 to 150 ms later (370 to 600 ms on a first playback or a
// busy machine), and STOP leaves up to 60 ms after its last sample (never before: a little
// silence costs nothing, a cut end loses the prompt). 600 + 60 ms and a reserve: 700 ms.
// A message whose rows are too few is cut by the chip at the end of its range; the
// programmer sees that and records it again.
struct Layout {
    QList<PlacedMessage> messages;
    QStringList problems;          // empty: the plan can be programmed
    std::optional<ChipModel> chip; // nothing for model "auto" before the chip is asked
    RowDuration row{125, 1};
    int sampleRate = Plan::DefaultSampleRate;
    int rowsUsed = 0; // rows some message holds, each counted once
    // Rows the messages span, from the first planned row to the last one.
    int firstRow = 0;
    int lastRow = 0;

    bool ok() const { return problems.isEmpty(); }
    int rowsAvailable() const { return chip ? chip->messageRows() : 0; }
    // "uses 312 of 480 rows, 39.0 s of 60.0 s" (without the chip: "uses 312 rows, 39.0 s").
    QString usageText() const;
};

// Lays the plan out. `files` holds one entry per message (from measureFiles); `chip` is
// the model's memory, or null when it is not known yet: the plan is then checked against
// the largest model (no chip has rows past its last), the chip's model decides the rest.
Layout allocate(const Plan& plan, const QList<MeasuredFile>& files, const ChipModel* chip);

// The plan's model, if it names one.
const ChipModel* plannedChip(const Plan& plan);

} // namespace tamberlo::plan
