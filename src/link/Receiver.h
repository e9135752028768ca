#pragma once

#include "link/SerialPort.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>

namespace tamberlo {

// Collects reply bytes and recognises a reply only by its length: when the count of
// bytes since the last rewind equals RecvExpect, the reply action runs, then the count
// and the write index start again from 0.
//
// Each frame starts with a clean slate: when its first byte goes out (and when the port
// opens) whatever came in before is discarded and the count and index rewound, so neither
// a stray byte nor the rest of an earlier reply can shift the count of the command in
// flight. From a command being given until its frame starts no reply is recognised: bytes
// then are not its reply, and they are thrown away when the frame starts.
//
// The reply action may open a modal box. It runs after the port's notification has
// returned, so bytes that arrive while the box is open are read and counted by the
// notifications the box's event loop delivers (a STOP reply among them is recognised and
// its action runs). The rewind follows the action unless a frame started while the action
// ran: that frame's clean slate has rewound already, and the bytes counted since belong to
// it.
//
// The counters are 8-bit and wrap like the registers they model: a count never indexes
// outside RecvBuf (indices reachable are 0..255 of 513).
class Receiver : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t BufferSize = 513;

    explicit Receiver(SerialPort& port, QObject* parent = nullptr);

    // Runs when a reply is complete, before the rewind. The chip layer decides what the
    // reply means from the command in flight.
    void setReplyAction(std::function<void()> action) { action_ = std::move(action); }

    // A frame is about to go out (its first byte, or the port has just opened): discards the
    // input received so far, rewinds RecvCnt and RecvIdx, and recognises replies again.
    // A reply action still waiting to run is dropped.
    void startAfresh();
    // A command has been given whose frame has not started yet: until startAfresh() (or
    // stopAwaitingFrame()) bytes are counted but complete nothing.
    void awaitFrame() { awaitingFrame_ = true; }
    void stopAwaitingFrame() { awaitingFrame_ = false; }
    bool isAwaitingFrame() const { return awaitingFrame_; }

    // Runs the action of a reply that is complete but whose action has not started yet.
    // Whoever is about to change the command in flight calls it first, so that the action
    // still sees the command and the bytes it was completed for.
    void runDueAction();
    bool isActionDue() const { return actionDue_; }

    std::array<std::uint8_t, BufferSize> RecvBuf{};

    // The write index into RecvBuf, the count of bytes since the last rewind, and the count
    // that completes the reply of the command in flight (the command handlers set it).
    std::uint8_t RecvIdx() const { return recvIdx_; }
    void setRecvIdx(std::uint8_t index) { recvIdx_ = index; }
    std::uint8_t RecvCnt() const { return recvCnt_; }
    void setRecvCnt(std::uint8_t count) { recvCnt_ = count; }
    std::uint8_t RecvExpect() const { return recvExpect_; }
    void setRecvExpect(std::uint8_t count) { recvExpect_ = count; }

public slots:
    // Handler of the port's communication notification.
    void onCommunication(tamberlo::CommEvent kind);

private:
    SerialPort& port_;
    std::uint8_t recvIdx_ = 0;
    std::uint8_t recvCnt_ = 0;
    std::uint8_t recvExpect_ = 0;
    std::function<void()> action_;
    // Counts clean slates; an action rewinds only if none happened since its reply matched.
    std::uint64_t slate_ = 0;
    bool actionDue_ = false;
    bool awaitingFrame_ = false;
};

} // namespace tamberlo
