#include "widgets/PortToolTips.h"

#include <QComboBox>
#include <QEvent>

namespace tamberlo {

QString portToolTip(const QString& text, const QList<SerialDevice>& devices) {
    QString reason;
    const std::optional<std::int16_t> number = parsePortNumber(text, &reason);
    return number ? describePort(*number, devices) : reason;
}

PortToolTips::PortToolTips(QComboBox* box) : QObject(box), box_(box) {
    box_->installEventFilter(this);
}

void PortToolTips::refresh() {
    const QList<SerialDevice> devices = presentSerialDevices();
    for (int i = 0; i < box_->count(); ++i)
        box_->setItemData(i, portToolTip(box_->itemText(i), devices), Qt::ToolTipRole);
    box_->setToolTip(portToolTip(box_->currentText(), devices));
}

bool PortToolTips::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_ && (event->type() == QEvent::MouseButtonPress ||
                            event->type() == QEvent::KeyPress || event->type() == QEvent::ToolTip))
        refresh();
    return QObject::eventFilter(watched, event);
}

} // namespace tamberlo
