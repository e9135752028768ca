#pragma once

#include "link/Receiver.h"
#include "link/SerialPort.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <vector>

namespace tamberlo {

// Paces a command frame out one byte per 50 ms tick of Timer1. Only one frame is in
// flight; a new call replaces it at once, except that a frame already partly out is
// finished first (the new frame follows the rest of it).
//
// The tick that writes a frame's first byte gives the receiver its clean slate
// (Receiver::startAfresh) just before the write; from the call until then the receiver
// recognises no reply.
class Transmitter : public QObject {
    Q_OBJECT
public:
    static constexpr int PaceMs = BytePaceMs;

    Transmitter(SerialPort& port, Receiver& receiver, QObject* parent = nullptr);

    // The frame a command handler builds, opcode first.
    std::vector<std::uint8_t> SendBuf;

    // Starts sending the first SendBytCnt bytes of SendBuf. Refuses on a closed port:
    // nothing is sent and portClosed() tells whoever shows the operator why.
    void Isd_Comm2_Send(std::uint8_t SendBytCnt);

    std::uint8_t CurCmd() const { return curCmd_; }
    std::uint8_t SendCnt() const { return sendCnt_; }
    std::uint8_t SendIdx() const { return sendIdx_; }
    bool isSending() const { return timer_.isActive(); }
    QTimer& Timer1() { return timer_; }
    Receiver& receiver() { return receiver_; }

    // Drops the frame being paced out (the port went away).
    void abort();

signals:
    // Isd_Comm2_Send refused a frame because the port is closed.
    void portClosed();
    // The last byte of the frame handed over last has been written.
    void frameWritten();
    // abort() dropped the frame handed over last before its last byte was written.
    void frameDropped();

public slots:
    // Tick of Timer1.
    void tick();

private:
    SerialPort& port_;
    Receiver& receiver_;
    QTimer timer_;
    // The frame handed to Isd_Comm2_Send. A handler that rebuilds SendBuf and then sends
    // nothing must not change what is already on its way out.
    std::vector<std::uint8_t> frame_;
    std::uint8_t curCmd_ = 0;
    std::uint8_t sendCnt_ = 0;
    std::uint8_t sendIdx_ = 0;
    // Leading bytes of frame_ that finish a frame partly out when frame_ was handed over.
    std::size_t continued_ = 0;
};

} // namespace tamberlo
