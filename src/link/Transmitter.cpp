#include "link/Transmitter.h"

#include <algorithm>

namespace tamberlo {

Transmitter::Transmitter(SerialPort& port, Receiver& receiver, MessageBoxes& boxes, QObject* parent)
    : QObject(parent), port_(port), receiver_(receiver), boxes_(boxes) {
    timer_.setObjectName(QStringLiteral("Timer1"));
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(PaceMs);
    connect(&timer_, &QTimer::timeout, this, &Transmitter::tick);
}

void Transmitter::Isd_Comm2_Send(std::uint8_t SendBytCnt) {
    receiver_.RecvIdx = 0;
    curCmd_ = SendBuf.empty() ? 0 : SendBuf[0];
    sendIdx_ = 0;
    // Never read past the frame, whatever count a caller passes.
    sendCnt_ = static_cast<std::uint8_t>(std::min<std::size_t>(SendBytCnt, SendBuf.size()));
    frame_ = SendBuf;

    if (!port_.isOpen()) {
        boxes_.show(QStringLiteral("串口没打开"), QStringLiteral("串口状态"),
                    MessageIcon::Critical);
        return;
    }
    timer_.start(PaceMs);
}

void Transmitter::abort() {
    timer_.stop();
    sendIdx_ = 0;
}

void Transmitter::tick() {
    if (!port_.isOpen()) {
        // The port was closed under a frame: the rest of it is dropped.
        abort();
        return;
    }
    port_.selectBinaryMode();
    if (sendIdx_ < sendCnt_) {
        port_.discardTransmitBuffer();
        port_.write(frame_[sendIdx_]);
        ++sendIdx_;
        // The next byte is due a full interval after this one left, however late this tick
        // came: a late tick stretches one gap instead of stretching one and squeezing the next.
        timer_.start(PaceMs);
        return;
    }
    timer_.stop();
    sendIdx_ = 0;
}

} // namespace tamberlo
