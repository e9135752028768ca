#include "link/Receiver.h"

namespace tamberlo {

Receiver::Receiver(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    connect(&port_, &SerialPort::communication, this, &Receiver::onCommunication);
}

void Receiver::onCommunication(CommEvent kind) {
    if (kind != CommEvent::BytesReceived)
        return;
    port_.selectBinaryMode();
    RecvCnt = static_cast<std::uint8_t>(RecvCnt + port_.bytesWaiting());

    // Bytes that arrive while draining raise no second notification.
    port_.setReceiveThreshold(0);
    while (port_.bytesWaiting() > 0) {
        RecvBuf[RecvIdx] = port_.read();
        RecvIdx = static_cast<std::uint8_t>(RecvIdx + 1);
    }
    port_.setReceiveThreshold(1);
    port_.discardReceiveBuffer();

    if (awaitingFrame_ || actionDue_ || RecvCnt != RecvExpect)
        return;
    // The action runs once this notification has returned: a modal box it opens must not
    // hold up the port's notifications.
    actionDue_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, slate = slate_] {
            if (slate == slate_)
                runDueAction();
        },
        Qt::QueuedConnection);
}

void Receiver::runDueAction() {
    if (!actionDue_)
        return;
    actionDue_ = false;
    const std::uint64_t slate = slate_;
    // The action may open a modal box; the rewind waits until it is dismissed.
    if (action_)
        action_();
    if (slate != slate_)
        return; // a frame started meanwhile and has rewound for itself
    RecvCnt = 0;
    RecvIdx = 0;
}

void Receiver::startAfresh() {
    ++slate_;
    actionDue_ = false;
    awaitingFrame_ = false;
    port_.discardInput();
    RecvCnt = 0;
    RecvIdx = 0;
}

} // namespace tamberlo
