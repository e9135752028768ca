#pragma once

// ChipOperations: the steps every front end takes with the chip client, in one place.
//
//     ChipOperations ops(client, [](const ChipResult& failed) { ... the first error ... });
//     ops.submit(singleFrame(Opcode::FWD), true, [&](const ChipResult&) {
//         ops.submit(singleFrame(Opcode::RD_PLAY_PTR), false, [&](const ChipResult& r) { ... });
//     });
//     ops.waitWhileErasing([&](const ChipResult& lastRead) { ... the chip is done ... });
//     ops.readSnapshot([&](const ChipSnapshot& s) { ... s.model, s.status, s.address ... });
//
// A chain of steps stops at the first error: `failed` gets it and no later step runs, also
// when a result of a step submitted before it comes in afterwards.

#include "chip/ChipClient.h"

#include <functional>
#include <optional>

namespace tamberlo {

// What the chip says about itself: its model, SR0, both pointers and the current address.
struct ChipSnapshot {
    const ChipModel* model = nullptr;
    std::uint8_t deviceId = 0;
    ChipStatus status;
    std::uint16_t playPointer = 0;
    std::uint16_t recordPointer = 0;
    CurrentAddress address;
};

class ChipOperations {
public:
    // Reads of the current address while the chip erases before giving up; the client paces
    // them (a read every 100 ms or so), which makes about ten seconds, more than the longest
    // erase of the largest model.
    static constexpr int EraseWaitReads = 100;

    using Next = std::function<void(const ChipResult&)>;
    using Failed = std::function<void(const ChipResult&)>;

    ChipOperations(ChipClient& client, Failed failed);

    ChipClient& client() { return client_; }

    // Submits a frame (confirm: followed by a status read, CMD_ERR there refuses it); `next`
    // gets its result, or the chain's `failed` the error and the chain stops. With a `failed`
    // of this step's own, that one gets the error and the chain goes on after it.
    void submit(std::vector<std::uint8_t> frame, bool confirm, Next next, Failed failed = {});

    // Reads the current address (0x60) until the chip is no longer erasing, then `next` with
    // the last read. Still erasing after EraseWaitReads reads: fails with Timeout (to this
    // step's own `failed` when given).
    void waitWhileErasing(Next next, Failed failed = {});

    // DEVID, RD_PLAY_PTR, RD_REC_PTR and the current address, in that order.
    void readSnapshot(std::function<void(const ChipSnapshot&)> next);

    // Frames submitted so far, a confirming status read counted as one more.
    int frames() const { return frames_; }
    // Stops the chain: results still to come are dropped.
    void halt() { halted_ = true; }
    // A new chain after one that stopped.
    void resume() { halted_ = false; }
    bool halted() const { return halted_; }

private:
    void waitRead(int readsLeft, Next next, Failed failed);

    ChipClient& client_;
    Failed failed_;
    int frames_ = 0;
    bool halted_ = false;
};

} // namespace tamberlo
