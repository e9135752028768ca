#pragma once

// The shared fake-port chip client with every result recorded: the rig of the client's and
// the chip operations' tests.

#include "chip/Catalogue.h"
#include "support/FakePortClient.h"

#include <vector>

namespace tamberlo::test {

struct ClientRig : FakePortClient {
    std::vector<ChipResult> results;

    quint64 submit(std::vector<std::uint8_t> frame, bool confirm = false) {
        return client.submit({std::move(frame), confirm},
                             [this](const ChipResult& r) { results.push_back(r); });
    }
};

} // namespace tamberlo::test
