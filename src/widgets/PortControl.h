#pragma once

#include "link/SerialPort.h"
#include "link/Transmitter.h"
#include "widgets/MessageBoxes.h"

#include <QColor>
#include <QObject>
#include <QString>

namespace tamberlo {

// What the button Command16 does, without the widgets: it opens the port on the number typed
// into Combo1 when the port is closed, and closes it when it is open. The window wires it up:
//
//   connect(Command16, &QPushButton::clicked, [&] { portControl.toggle(Combo1->currentText()); });
//   toggled()          -> hide Bottmp(0) (every click, whichever way the port goes)
//   openChanged(open)  -> Command16 caption caption(open), Seril_StDig fill lampColor(open)
//
// Opening and closing send nothing. An open gives the receiver a clean slate (input discarded,
// count and index rewound); a close drops the rest of a frame still being paced out, so it can
// never reach a port opened later.
class PortControl : public QObject {
    Q_OBJECT
public:
    PortControl(SerialPort& port, Transmitter& transmitter, MessageBoxes& boxes,
                QObject* parent = nullptr);

    bool isOpen() const { return port_.isOpen(); }

    // Caption of Command16 and fill of Seril_StDig for a port that is (not) open.
    static QString caption(bool open);
    static QColor lampColor(bool open);

public slots:
    // A click on Command16. The decision rests on whether the port really is open, not on
    // what the caption says. An open that fails leaves the panel Closed and tells the
    // operator why in a critical "串口状态" box.
    void toggle(const QString& comboText);

signals:
    // At the start of every click.
    void toggled();
    // After every click, and after the device went away under an open port, with the port's
    // state at that moment.
    void openChanged(bool open);

private:
    void onCommunication(tamberlo::CommEvent kind);
    void tellOperator(const QString& text);

    SerialPort& port_;
    Transmitter& transmitter_;
    MessageBoxes& boxes_;
    // The state last announced through openChanged.
    bool shownOpen_ = false;
};

} // namespace tamberlo
