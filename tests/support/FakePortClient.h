#pragma once

// A chip client on an open fake port whose clock is a variable moved by hand: the pacing and
// reply timers are ticked directly, nothing waits on real time.

#include "chip/ChipClient.h"
#include "support/Fakes.h"

#include <QByteArray>
#include <initializer_list>

namespace tamberlo::test {

// A millisecond on the client's clock, which counts nanoseconds.
inline constexpr qint64 Ms = NsPerMs;

// The bytes of a frame or a reply, written as numbers.
inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

struct FakePortClient {
    FakeSerialPort port;
    qint64 clock = 1000 * Ms;
    ChipClient client{port};

    FakePortClient() {
        port.open();
        client.setClock([this] { return clock; });
    }
    FakePortClient(const FakePortClient&) = delete;
    FakePortClient& operator=(const FakePortClient&) = delete;

    // Lets one pacing interval pass and ticks the pacing timer, as its expiry would.
    void tick() {
        clock += ChipClient::PaceMs * Ms;
        client.tick();
    }
    // Ticks until `count` bytes have been written in all (at most 20 ticks).
    void sendUntil(qsizetype count) {
        for (int i = 0; i < 20 && port.written.size() < count; ++i)
            tick();
    }
};

} // namespace tamberlo::test
