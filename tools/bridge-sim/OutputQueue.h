#pragma once

#include "ChipModel.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamberlo::bridgesim {

// A byte the simulator is due to write to the line, with a note for the log.
struct OutgoingByte {
    SimTime due;
    std::uint8_t value;
    std::string note;
};

// Decides when each outgoing byte goes on the line: the bridge's replies, delayed or
// split when asked to, surplus bytes after a reply, and unsolicited noise. Pure
// bookkeeping with the time passed in; the program writes what takeDue() hands out.
class OutputQueue {
public:
    struct Options {
        SimTime replyDelay{0};  // from the last byte of a frame to the first reply byte
        SimTime byteGap{0};     // between reply bytes; 0 writes a reply in one go
        int extraBytes = 0;     // surplus bytes after every reply
        SimTime noisePeriod{0}; // one random byte every period; 0 for none
    };
    // The value of the surplus bytes.
    static constexpr std::uint8_t EXTRA_BYTE = 0xEE;

    OutputQueue(Options options, SimTime now, std::uint32_t noiseSeed);

    // Queues the answer to a frame completed at `now`. Replies never overtake each
    // other: a reply queued while an earlier one is still waiting follows it.
    void scheduleReply(std::span<const std::uint8_t> reply, std::string_view command, SimTime now);

    // The earliest time at which takeDue() has something.
    std::optional<SimTime> nextDue() const;
    // Every byte due at `now`, oldest first.
    std::vector<OutgoingByte> takeDue(SimTime now);

private:
    Options options_;
    std::deque<OutgoingByte> queue_;
    SimTime nextNoise_{};
    std::minstd_rand random_;
};

} // namespace tamberlo::bridgesim
