#include "link/Transmitter.h"

#include <algorithm>

namespace tamberlo {

Transmitter::Transmitter(SerialPort& port, Receiver& receiver, QObject* parent)
    : QObject(parent), port_(port), receiver_(receiver) {
    timer_.setObjectName(QStringLiteral("Timer1"));
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(PaceMs);
    connect(&timer_, &QTimer::timeout, this, &Transmitter::tick);
}

void Transmitter::Isd_Comm2_Send(std::uint8_t SendBytCnt) {
    // A reply completed for the command in flight still gets its action, before that command
    // is replaced.
    receiver_.runDueAction();
    receiver_.setRecvIdx(0);
    curCmd_ = SendBuf.empty() ? 0 : SendBuf[0];
    // The bridge frames by opcode: the bytes after an opcode are that command's data however
    // late they come. A frame that has started to go out therefore goes out whole, and the new
    // one follows the rest of it; cut short, its missing data would be taken from the new
    // frame (an erase range the operator never typed). A frame not yet started is replaced.
    std::vector<std::uint8_t> next;
    if (timer_.isActive() && sendIdx_ < sendCnt_) {
        // The first continued_ bytes of frame_ finish an earlier frame; the rest is the frame
        // handed over last, started once any byte of it is out.
        std::size_t end = sendIdx_;
        if (sendIdx_ < continued_)
            end = continued_;
        else if (sendIdx_ > continued_)
            end = sendCnt_;
        next.assign(frame_.begin() + sendIdx_, frame_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    continued_ = next.size();
    // Never read past the frame, whatever count a caller passes.
    const std::size_t count = std::min<std::size_t>(SendBytCnt, SendBuf.size());
    next.insert(next.end(), SendBuf.begin(), SendBuf.begin() + static_cast<std::ptrdiff_t>(count));
    frame_ = std::move(next);
    sendIdx_ = 0;
    sendCnt_ = static_cast<std::uint8_t>(std::min<std::size_t>(frame_.size(), 255));

    // Until the new frame's first byte is out, what comes in is not its reply.
    if (port_.isOpen() && continued_ < sendCnt_)
        receiver_.awaitFrame();
    else
        receiver_.stopAwaitingFrame();

    if (!port_.isOpen()) {
        emit portClosed();
        return;
    }
    timer_.start(PaceMs);
}

void Transmitter::abort() {
    const bool dropped = timer_.isActive() && sendIdx_ < sendCnt_ && continued_ < sendCnt_;
    timer_.stop();
    receiver_.stopAwaitingFrame();
    sendIdx_ = 0;
    continued_ = 0;
    if (dropped)
        emit frameDropped();
}

void Transmitter::tick() {
    if (!port_.isOpen()) {
        // The port was closed under a frame: the rest of it is dropped.
        abort();
        return;
    }
    port_.selectBinaryMode();
    if (sendIdx_ < sendCnt_) {
        // The first byte of the frame handed over last (the bytes before it finish an earlier
        // frame): the reply that counts for it is what comes in from now on.
        if (sendIdx_ == continued_)
            receiver_.startAfresh();
        port_.discardTransmitBuffer();
        port_.write(frame_[sendIdx_]);
        ++sendIdx_;
        // The next byte is due a full interval after this one left, however late this tick
        // came: a late tick stretches one gap instead of stretching one and squeezing the next.
        timer_.start(PaceMs);
        if (sendIdx_ == sendCnt_ && continued_ < sendCnt_)
            emit frameWritten();
        return;
    }
    timer_.stop();
    sendIdx_ = 0;
    continued_ = 0;
}

} // namespace tamberlo
