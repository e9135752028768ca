#include "plan/Allocation.h"

#include "plan/Export.h"

#include <QHash>
#include <algorithm>

namespace tamberlo::plan {

namespace {

QString who(const PlacedMessage& m) {
    return QStringLiteral("message %1 \"%2\"").arg(m.number).arg(m.name);
}

QString range(int start, int end) {
    return QStringLiteral("%1..%2").arg(rowText(start), rowText(end));
}

QString seconds(double ms) {
    return QString::number(ms / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

const ChipModel* plannedChip(const Plan& plan) {
    return plan.autoModel() ? nullptr : findChipModel(plan.model);
}

QString Layout::usageText() const {
    if (!chip)
        return QStringLiteral("uses %1 rows, %2").arg(rowsUsed).arg(seconds(row.msOf(rowsUsed)));
    return QStringLiteral("uses %1 of %2 rows, %3 of %4")
        .arg(rowsUsed)
        .arg(rowsAvailable())
        .arg(seconds(row.msOf(rowsUsed)), seconds(row.msOf(rowsAvailable())));
}

Layout allocate(const Plan& plan, const QList<MeasuredFile>& files, const ChipModel* chip) {
    Layout layout;
    if (chip)
        layout.chip = *chip;
    layout.sampleRate = plan.sampleRate;
    if (const auto r = rowDuration(plan.sampleRate))
        layout.row = *r;
    else
        layout.problems << QStringLiteral("sample rate %1 Hz is not one of the chip's (%2)")
                               .arg(plan.sampleRate)
                               .arg(sampleRateNames().join(", "));

    QHash<QString, int> byName;
    QHash<QString, int> byIdentifier;
    int cursor = plan.firstRow;
    for (qsizetype i = 0; i < plan.messages.size(); ++i) {
        const PlanMessage& pm = plan.messages[i];
        PlacedMessage m;
        m.number = static_cast<int>(i) + 1;
        m.name = pm.name;
        m.identifier = messageIdentifier(pm.name, m.number);
        m.file = pm.file;
        m.path = pm.path;

        if (const auto seen = byName.constFind(pm.name); seen != byName.constEnd())
            layout.problems << QStringLiteral("%1: the name is already used by message %2")
                                   .arg(who(m))
                                   .arg(*seen);
        else if (const auto same = byIdentifier.constFind(m.identifier);
                 same != byIdentifier.constEnd())
            layout.problems << QStringLiteral("%1: the name becomes %2 in the header, as message "
                                              "%3's does")
                                   .arg(who(m), m.identifier)
                                   .arg(*same);
        byName.insert(pm.name, m.number);
        byIdentifier.insert(m.identifier, m.number);

        const MeasuredFile measured = i < files.size() ? files[i] : MeasuredFile{};
        if (measured.lengthMs) {
            m.lengthMs = *measured.lengthMs;
        } else {
            layout.problems << QStringLiteral("%1: %2: %3")
                                   .arg(who(m), pm.file,
                                        measured.problem.isEmpty() ? QStringLiteral("not measured")
                                                                   : measured.problem);
        }

        const int needed =
            std::max(1, layout.row.rowsFor(std::int64_t(m.lengthMs) + plan.marginMs));
        if (pm.rows) {
            m.rows = *pm.rows;
            if (measured.lengthMs && m.rows < needed)
                layout.problems << QStringLiteral(
                                       "%1: %2 rows given, its audio needs %3 (%4 ms + %5 ms "
                                       "margin at %6 ms a row)")
                                       .arg(who(m))
                                       .arg(m.rows)
                                       .arg(needed)
                                       .arg(m.lengthMs)
                                       .arg(plan.marginMs)
                                       .arg(layout.row.ms(), 0, 'g', 4);
        } else {
            m.rows = needed;
        }
        m.start = pm.start.value_or(cursor);
        m.end = m.start + m.rows - 1;
        cursor = m.end + 1;
        layout.messages.append(m);
    }

    // Overlaps, between any two messages (a fixed start can land inside an earlier one).
    QList<const PlacedMessage*> sorted;
    for (const PlacedMessage& m : layout.messages)
        sorted.append(&m);
    std::sort(sorted.begin(), sorted.end(), [](const PlacedMessage* a, const PlacedMessage* b) {
        return a->start != b->start ? a->start < b->start : a->number < b->number;
    });
    for (qsizetype i = 1; i < sorted.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            if (sorted[j]->end >= sorted[i]->start)
                layout.problems << QStringLiteral("%1 (rows %2) and %3 (rows %4) overlap")
                                       .arg(who(*sorted[j]),
                                            range(sorted[j]->start, sorted[j]->end),
                                            who(*sorted[i]),
                                            range(sorted[i]->start, sorted[i]->end));
        }
    }

    if (!layout.messages.isEmpty()) {
        layout.firstRow = sorted.front()->start;
        layout.lastRow = 0;
        for (const PlacedMessage& m : layout.messages)
            layout.lastRow = std::max(layout.lastRow, m.end);
    }
    // Rows used: every row some message holds, counted once however messages overlap.
    {
        QList<std::pair<int, int>> spans;
        for (const PlacedMessage* m : sorted)
            spans.append({m->start, m->end});
        int used = 0;
        int reached = -1;
        for (const auto& [start, end] : spans) {
            if (end > reached) {
                used += end - std::max(start, reached + 1) + 1;
                reached = end;
            }
        }
        layout.rowsUsed = used;
    }

    // Without the model ("auto") the largest one bounds the plan; the chip's model decides
    // the rest when programming.
    const ChipModel* bound = chip ? chip : largestChipModel();
    const QString whose = chip ? QStringLiteral("%1's").arg(chip->nameText())
                               : QStringLiteral("the largest model's (%1)").arg(bound->nameText());
    // A plan that starts later than the first message row counts from there, as a fixed
    // start does.
    bool fixedSoFar = plan.firstRow != Plan::FirstMessageRow;
    bool perMessage = false;
    for (const PlacedMessage& m : layout.messages) {
        fixedSoFar = fixedSoFar || plan.messages[m.number - 1].start.has_value();
        if (m.start > bound->lastRow) {
            layout.problems << QStringLiteral("%1 starts at row %2, past %3 last row %4")
                                   .arg(who(m), rowText(m.start), whose, rowText(bound->lastRow));
            perMessage = true;
        } else if (m.end > bound->lastRow && fixedSoFar) {
            // A message after a fixed start: the rows left from there, not the total.
            layout.problems << QStringLiteral("%1 needs %2 rows from row %3, up to %4: %5 last "
                                              "row is %6, %7 rows from its start")
                                   .arg(who(m))
                                   .arg(m.rows)
                                   .arg(rowText(m.start), rowText(m.end), whose,
                                        rowText(bound->lastRow))
                                   .arg(bound->lastRow - m.start + 1);
            perMessage = true;
        }
    }
    if (!perMessage && !layout.messages.isEmpty() && layout.lastRow > bound->lastRow) {
        const int needs = layout.lastRow - Plan::FirstMessageRow + 1;
        const QString has =
            chip ? QStringLiteral("%1 has").arg(chip->nameText())
                 : QStringLiteral("the largest model, %1, has").arg(bound->nameText());
        layout.problems << QStringLiteral("the plan does not fit: it needs %1 rows (up to row %2, "
                                          "%3), %4 %5 (%6, %7)")
                               .arg(needs)
                               .arg(rowText(layout.lastRow), seconds(layout.row.msOf(needs)), has)
                               .arg(bound->messageRows())
                               .arg(range(Plan::FirstMessageRow, bound->lastRow),
                                    seconds(layout.row.msOf(bound->messageRows())));
    }
    return layout;
}

} // namespace tamberlo::plan
