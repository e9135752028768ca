#pragma once

#include <QObject>

class QComboBox;

namespace tamberlo::planwin {

// The plan window's port box tool tips: each port number's entry names the device it stands
// for right now (or why the text is no port number), made afresh when the box is pressed,
// typed into or hovered, as on the panel. Lives as long as the box (its child).
class PortBoxTips : public QObject {
    Q_OBJECT
public:
    explicit PortBoxTips(QComboBox* box);
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* box_;
};

} // namespace tamberlo::planwin
