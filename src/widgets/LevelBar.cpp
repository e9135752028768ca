#include "widgets/LevelBar.h"

#include <QPainter>

namespace tamberlo {

LevelBar::LevelBar(QWidget* parent) : QWidget(parent), fill_(palette().color(QPalette::Window)) {}

void LevelBar::setFill(const QColor& fill) {
    if (fill_ == fill)
        return;
    fill_ = fill;
    update();
}

void LevelBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(fill_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace tamberlo
