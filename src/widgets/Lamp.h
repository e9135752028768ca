#pragma once

#include <QColor>
#include <QWidget>

namespace tamberlo {

// A small round indicator: a filled circle whose only changing property for the command
// lamps is whether it is shown. The port lamp also changes its fill.
class Lamp : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fill READ fill WRITE setFill)
public:
    explicit Lamp(QWidget* parent = nullptr);

    QColor fill() const { return fill_; }
    void setFill(const QColor& fill);

    QSize sizeHint() const override { return {12, 12}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_ = Qt::white;
};

} // namespace tamberlo
