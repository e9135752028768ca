#include "Bridge.h"

#include "Commands.h"

namespace tamberlo::bridgesim {

namespace {

std::uint8_t lowByte(unsigned value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}
std::uint8_t highByte(unsigned value) {
    return static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
// Row addresses are 11 bits: the high byte carries A10..A8.
std::uint8_t rowHigh(unsigned row) {
    return static_cast<std::uint8_t>((row >> 8) & 0x07);
}

} // namespace

Bridge::Bridge(ChipModel& chip, Options options) : chip_(chip), options_(options) {}

Bridge::Reception Bridge::receive(std::uint8_t byte, SimTime now) {
    Reception reception;
    if (!pending_.empty() && now - lastByteAt_ >= options_.frameTimeout) {
        pending_.clear();
        reception.droppedStale = true;
    }
    lastByteAt_ = now;
    pending_.push_back(byte);

    reception.opcode = pending_.front();
    reception.position = pending_.size();
    reception.length = frameLength(reception.opcode);
    if (pending_.size() < reception.length)
        return reception;

    reception.complete = true;
    reception.frame.swap(pending_);
    pending_.clear();

    chip_.advanceTo(now);
    const std::uint16_t statusBefore = chip_.sr0();
    const std::uint8_t status1Before = chip_.sr1();
    if (reception.opcode == op::CUR_ADDR)
        reception.accepted = true; // the board reads the chip's status; nothing changes
    else
        reception.accepted = chip_.execute(reception.frame, now);
    reception.reply = replyFor(reception.opcode, statusBefore, status1Before);
    return reception;
}

std::vector<std::uint8_t> Bridge::replyFor(std::uint8_t opcode, std::uint16_t statusBefore,
                                           std::uint8_t status1Before) const {
    const std::uint8_t lo = lowByte(statusBefore);
    const std::uint8_t hi = highByte(statusBefore);
    switch (opcode) {
    case op::STOP:
    case op::REC:
        return {lo};
    case op::RD_PLAY_PTR:
        return {lo, hi, rowHigh(chip_.playPointer()), lowByte(chip_.playPointer())};
    case op::RD_REC_PTR:
        return {lo, hi, rowHigh(chip_.recordPointer()), lowByte(chip_.recordPointer())};
    case op::DEVID:
        return {lo, hi, chip_.deviceId()};
    case op::CUR_ADDR: {
        const unsigned row = statusBefore >> sr0::ROW_SHIFT;
        return {rowHigh(row), lowByte(row), status1Before};
    }
    case op::SET_PLAY:
    case op::SET_REC:
    case op::SET_ERASE:
        return {lo, hi, lo, hi, lo};
    default:
        if (options_.answerAll)
            return {lo, hi};
        return {};
    }
}

} // namespace tamberlo::bridgesim
