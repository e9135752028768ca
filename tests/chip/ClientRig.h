#pragma once

// A chip client on an open fake port with a hand-moved clock and every result recorded: the
// rig of the client's and the chip operations' tests.

#include "chip/Catalogue.h"
#include "chip/ChipClient.h"
#include "support/Fakes.h"

#include <QByteArray>
#include <initializer_list>
#include <vector>

namespace tamberlo::test {

inline constexpr qint64 Ms = 1'000'000;

inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

struct ClientRig {
    FakeSerialPort port;
    qint64 clock = 1000 * Ms;
    ChipClient client{port};
    std::vector<ChipResult> results;

    ClientRig() {
        port.open();
        client.setClock([this] { return clock; });
    }
    quint64 submit(std::vector<std::uint8_t> frame, bool confirm = false) {
        return client.submit({std::move(frame), confirm},
                             [this](const ChipResult& r) { results.push_back(r); });
    }
    // Lets 50 ms pass and ticks the pacing timer, as its expiry would.
    void tick() {
        clock += ChipClient::PaceMs * Ms;
        client.tick();
    }
    // Ticks until `count` bytes have been written in all (bounded).
    void sendUntil(int count) {
        for (int i = 0; i < 20 && port.written.size() < count; ++i)
            tick();
    }
};

} // namespace tamberlo::test
