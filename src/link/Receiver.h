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

    std::array<std::uint8_t, BufferSize> RecvBuf{};
    std::uint8_t RecvIdx = 0;
    std::uint8_t RecvCnt = 0;
    std::uint8_t RecvExpect = 0;

public slots:
    // Handler of the port's communication notification.
    void onCommunication(tamberlo::CommEvent kind);

private:
    SerialPort& port_;
    std::function<void()> action_;
};

} // namespace tamberlo
