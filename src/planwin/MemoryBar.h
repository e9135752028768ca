#pragma once

#include "plan/Allocation.h"

#include <QWidget>

namespace tamberlo::planwin {

// The chip's memory as one bar: rows from the plan's first row to the model's last row, one
// coloured segment per message, free rows plain, and the rows a plan needs beyond the
// model's last row in red with how many are missing. Hovering names what is under the mouse.
// Without a known model the bar ends with the plan's last row.
class MemoryBar : public QWidget {
    Q_OBJECT
public:
    explicit MemoryBar(QWidget* parent = nullptr);

    void setPlanLayout(const plan::Layout& layout, int firstRow);

    // The rows the bar spans.
    int firstRow() const { return first_; }
    int lastRow() const;
    // Rows the plan needs beyond the model's last row; 0 when it fits or the model is unknown.
    int missingRows() const;
    // The message whose segment is at x (0-based plan index); -1 for free space or overflow.
    int messageAt(int x) const;
    // What the tool tip says at x: a message's name and rows, the free rows, or the overflow.
    QString toolTipAt(int x) const;
    // The colour of message i's segment.
    static QColor segmentColor(int i);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QRectF barRect() const;
    double xOf(int row) const;
    int rowAt(int x) const;

    plan::Layout layout_;
    int first_ = plan::Plan::FirstMessageRow;
};

} // namespace tamberlo::planwin
