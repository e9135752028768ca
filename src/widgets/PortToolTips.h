#pragma once

#include "link/PortResolver.h"

#include <QList>
#include <QObject>
#include <QString>

class QComboBox;
class QEvent;

namespace tamberlo {

// What a port number typed into a port box stands for right now: the device it names, or
// why the text is not a port number.
QString portToolTip(const QString& text, const QList<SerialDevice>& devices);

// Keeps the tool tips of a box of port numbers naming the device each number stands for at
// the moment they are looked at: when the box is pressed, typed into or asked for its tool
// tip. Looking the devices up is not free, so it is not done before the operator asks.
class PortToolTips : public QObject {
public:
    // Watches box through an event filter; a child of box, so it goes with it.
    explicit PortToolTips(QComboBox* box);

    // Gives every item and the box itself its tool tip from the devices present now.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* box_;
};

} // namespace tamberlo
