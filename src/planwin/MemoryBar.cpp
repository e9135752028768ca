#include "planwin/MemoryBar.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace tamberlo::planwin {

namespace {

constexpr int BarHeight = 30;
constexpr int LabelHeight = 16;
const QColor OverflowColor(0xD0, 0x20, 0x20);

QString rowsText(int start, int end) {
    return MemoryBar::tr("行 %1–%2 (%3 行)")
        .arg(plan::rowText(start), plan::rowText(end))
        .arg(end - start + 1);
}

} // namespace

MemoryBar::MemoryBar(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MemoryBar::setPlanLayout(const plan::Layout& layout, int firstRow) {
    layout_ = layout;
    first_ = layout.messages.isEmpty() ? firstRow : std::min(firstRow, layout.firstRow);
    update();
}

int MemoryBar::lastRow() const {
    int last = layout_.chip ? layout_.chip->lastRow : first_;
    if (!layout_.messages.isEmpty())
        last = std::max(last, layout_.lastRow);
    return last;
}

int MemoryBar::missingRows() const {
    if (!layout_.chip || layout_.messages.isEmpty())
        return 0;
    return std::max(0, layout_.lastRow - layout_.chip->lastRow);
}

QColor MemoryBar::segmentColor(int i) {
    // Hues a golden angle apart: neighbours never look alike.
    const int hue = static_cast<int>(std::fmod(200.0 + i * 137.508, 360.0));
    return QColor::fromHsv(hue, 110, 235);
}

QRectF MemoryBar::barRect() const {
    return QRectF(0.5, 0.5, width() - 1.0, BarHeight - 1.0);
}

double MemoryBar::xOf(int row) const {
    const QRectF r = barRect();
    const int span = lastRow() - first_ + 1;
    return r.left() + r.width() * (row - first_) / std::max(1, span);
}

int MemoryBar::rowAt(int x) const {
    const QRectF r = barRect();
    const int span = lastRow() - first_ + 1;
    const int row = first_ + static_cast<int>(std::floor((x - r.left()) * span / r.width()));
    return std::clamp(row, first_, lastRow());
}

int MemoryBar::messageAt(int x) const {
    const int row = rowAt(x);
    for (int i = 0; i < layout_.messages.size(); ++i) {
        const plan::PlacedMessage& m = layout_.messages[i];
        const int end = layout_.chip ? std::min(m.end, int(layout_.chip->lastRow)) : m.end;
        if (row >= m.start && row <= end)
            return i;
    }
    return -1;
}

QString MemoryBar::toolTipAt(int x) const {
    const int row = rowAt(x);
    if (layout_.chip && row > layout_.chip->lastRow)
        return tr("超出 %1：缺 %2 行").arg(layout_.chip->nameText()).arg(missingRows());
    const int i = messageAt(x);
    if (i >= 0) {
        const plan::PlacedMessage& m = layout_.messages[i];
        return QStringLiteral("%1. %2\n%3").arg(m.number).arg(m.name, rowsText(m.start, m.end));
    }
    // The free run around the row.
    int from = first_;
    int to = layout_.chip ? layout_.chip->lastRow : lastRow();
    for (const plan::PlacedMessage& m : layout_.messages) {
        if (m.end < row)
            from = std::max(from, m.end + 1);
        if (m.start > row)
            to = std::min(to, m.start - 1);
    }
    return tr("空闲：%1").arg(rowsText(from, to));
}

QSize MemoryBar::sizeHint() const {
    return {600, BarHeight + LabelHeight};
}

QSize MemoryBar::minimumSizeHint() const {
    return {200, BarHeight + LabelHeight};
}

bool MemoryBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (barRect().contains(help->pos()))
            QToolTip::showText(help->globalPos(), toolTipAt(help->pos().x()), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void MemoryBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRectF bar = barRect();
    p.fillRect(bar, palette().base());

    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.85);
    const int chipLast = layout_.chip ? layout_.chip->lastRow : lastRow();

    for (int i = 0; i < layout_.messages.size(); ++i) {
        const plan::PlacedMessage& m = layout_.messages[i];
        const int end = std::min(m.end, chipLast);
        if (end < m.start)
            continue;
        const QRectF seg(QPointF(xOf(m.start), bar.top()), QPointF(xOf(end + 1), bar.bottom()));
        p.fillRect(seg, segmentColor(i));
        p.setPen(palette().color(QPalette::Base));
        p.drawLine(seg.topLeft(), seg.bottomLeft());
        p.setPen(palette().color(QPalette::Text));
        p.setFont(small);
        const QString label =
            p.fontMetrics().elidedText(m.name, Qt::ElideRight, static_cast<int>(seg.width()) - 4);
        if (seg.width() > 18)
            p.drawText(seg.adjusted(2, 0, -2, 0), Qt::AlignCenter, label);
    }

    const int missing = missingRows();
    if (missing > 0) {
        const QRectF over(QPointF(xOf(chipLast + 1), bar.top()),
                          QPointF(bar.right(), bar.bottom()));
        p.fillRect(over, OverflowColor);
        p.fillRect(over, QBrush(QColor(255, 255, 255, 90), Qt::BDiagPattern));
        p.setPen(Qt::white);
        QFont bold = small;
        bold.setBold(true);
        p.setFont(bold);
        p.drawText(over, Qt::AlignCenter,
                   p.fontMetrics().elidedText(tr("缺 %1 行").arg(missing), Qt::ElideRight,
                                              static_cast<int>(over.width())));
    }

    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(Qt::NoBrush);
    p.drawRect(bar);

    // Row numbers under the bar: the first row, the model's last row, and where the
    // overflow starts.
    p.setFont(small);
    p.setPen(palette().color(QPalette::WindowText));
    const QRectF labels(0, BarHeight, width(), LabelHeight);
    p.drawText(labels, Qt::AlignLeft | Qt::AlignVCenter, plan::rowText(first_));
    if (layout_.chip) {
        const QString last = QStringLiteral("%1 %2").arg(layout_.chip->nameText(),
                                                         plan::rowText(layout_.chip->lastRow));
        if (missing > 0) {
            const qreal x = xOf(chipLast + 1);
            p.drawText(QRectF(0, BarHeight, x, LabelHeight), Qt::AlignRight | Qt::AlignVCenter,
                       last);
            p.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, plan::rowText(layout_.lastRow));
        } else {
            p.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, last);
        }
    } else {
        p.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, tr("型号未知：读芯片后显示全部存储"));
    }
}

} // namespace tamberlo::planwin
