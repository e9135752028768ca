#include "OutputQueue.h"

#include <algorithm>

namespace tamberlo::bridgesim {

OutputQueue::OutputQueue(Options options, SimTime now, std::uint32_t noiseSeed)
    : options_(options), nextNoise_(now + options.noisePeriod), random_(noiseSeed) {}

void OutputQueue::scheduleReply(std::span<const std::uint8_t> reply, std::string_view command,
                                SimTime now) {
    if (reply.empty())
        return;
    SimTime due = now + options_.replyDelay;
    if (!queue_.empty())
        due = std::max(due, queue_.back().due + options_.byteGap);

    const std::size_t total = reply.size();
    const auto extras = static_cast<std::size_t>(std::max(options_.extraBytes, 0));
    for (std::size_t i = 0; i < total + extras; ++i) {
        const bool extra = i >= total;
        std::string note = extra ? "extra " + std::to_string(i - total + 1) + "/" +
                                       std::to_string(extras) + " after " + std::string(command)
                                 : std::string(command) + " reply " + std::to_string(i + 1) + "/" +
                                       std::to_string(total);
        queue_.push_back({due, extra ? EXTRA_BYTE : reply[i], std::move(note)});
        due += options_.byteGap;
    }
}

std::optional<SimTime> OutputQueue::nextDue() const {
    std::optional<SimTime> next;
    if (!queue_.empty())
        next = queue_.front().due;
    if (options_.noisePeriod.count() > 0 && (!next || nextNoise_ < *next))
        next = nextNoise_;
    return next;
}

std::vector<OutgoingByte> OutputQueue::takeDue(SimTime now) {
    std::vector<OutgoingByte> due;
    while (!queue_.empty() && queue_.front().due <= now) {
        due.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    if (options_.noisePeriod.count() > 0) {
        while (nextNoise_ <= now) {
            due.push_back({nextNoise_, static_cast<std::uint8_t>(random_() & 0xFF), "noise"});
            nextNoise_ += options_.noisePeriod;
        }
        std::stable_sort(due.begin(), due.end(), [](const OutgoingByte& a, const OutgoingByte& b) {
            return a.due < b.due;
        });
    }
    return due;
}

} // namespace tamberlo::bridgesim
