#include "link/Receiver.h"

namespace tamberlo {

Receiver::Receiver(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    connect(&port_, &SerialPort::communication, this, &Receiver::onCommunication);
}

void Receiver::onCommunication(CommEvent kind) {
    if (kind != CommEvent::BytesReceived)
        return;
    port_.selectBinaryMode();
    recvCnt_ = static_cast<std::uint8_t>(recvCnt_ + port_.bytesWaiting());

    // Bytes that arrive while draining raise no second notification.
    port_.setReceiveThreshold(0);
    while (port_.bytesWaiting() > 0) {
        RecvBuf[recvIdx_] = port_.read();
        recvIdx_ = static_cast<std::uint8_t>(recvIdx_ + 1);
    }
    port_.setReceiveThreshold(1);
    port_.discardReceiveBuffer();

    if (awaitingFrame_ || actionDue_ || recvCnt_ != recvExpect_)
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
    recvCnt_ = 0;
    recvIdx_ = 0;
}

void Receiver::startAfresh() {
    ++slate_;
    actionDue_ = false;
    awaitingFrame_ = false;
    port_.discardInput();
    recvCnt_ = 0;
    recvIdx_ = 0;
}

} // namespace tamberlo
