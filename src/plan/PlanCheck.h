#pragma once

#include "plan/Allocation.h"

#include <QList>
#include <QString>

namespace tamberlo::plan {

// How one planned message compares with the messages the map scan found in the chip.
struct MessageCheck {
    enum class State { Found, Missing, Moved };
    State state = State::Missing;
    int chipStart = -1; // Moved: the start the chip has inside the message's rows
};

// Found: the chip has a message starting at the planned row. Moved: it has none there but one
// starting elsewhere inside the message's planned rows. Missing: neither.
QList<MessageCheck> checkMessages(const Layout& layout, const QList<int>& chipStarts);

// Chip starts that lie inside no planned message (recorded beyond the plan).
QList<int> unplannedStarts(const Layout& layout, const QList<int>& chipStarts);

// Milliseconds as "m:ss" (rounded down to whole seconds).
QString clockText(qint64 ms);

} // namespace tamberlo::plan
