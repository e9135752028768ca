#pragma once

#include <QColor>
#include <QWidget>

namespace tamberlo {

// One rectangle of the volume-step display: a solid fill inside an outline that stays,
// so an unlit bar shows as an empty box.
class LevelBar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fill READ fill WRITE setFill)
public:
    explicit LevelBar(QWidget* parent = nullptr);

    QColor fill() const { return fill_; }
    void setFill(const QColor& fill);

    QSize sizeHint() const override { return {10, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

} // namespace tamberlo
