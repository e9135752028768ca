#include "plan/PlanCheck.h"

namespace tamberlo::plan {

QList<MessageCheck> checkMessages(const Layout& layout, const QList<int>& chipStarts) {
    QList<MessageCheck> checks;
    for (const PlacedMessage& m : layout.messages) {
        MessageCheck c;
        if (chipStarts.contains(m.start)) {
            c.state = MessageCheck::State::Found;
        } else {
            for (int s : chipStarts) {
                if (s > m.start && s <= m.end) {
                    c.state = MessageCheck::State::Moved;
                    c.chipStart = s;
                    break;
                }
            }
        }
        checks.append(c);
    }
    return checks;
}

QList<int> unplannedStarts(const Layout& layout, const QList<int>& chipStarts) {
    QList<int> extra;
    for (int s : chipStarts) {
        bool inside = false;
        for (const PlacedMessage& m : layout.messages)
            inside = inside || (s >= m.start && s <= m.end);
        if (!inside)
            extra.append(s);
    }
    return extra;
}

QString clockText(qint64 ms) {
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace tamberlo::plan
