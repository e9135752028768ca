#include "ChipModel.h"

#include "Commands.h"

#include <algorithm>

namespace tamberlo::bridgesim {

namespace {

// Reads that leave every register as it was, CMD_ERR included.
bool isPureRead(std::uint8_t opcode) {
    return opcode == op::RD_STATUS || opcode == op::DEVID || opcode == op::RD_PLAY_PTR ||
           opcode == op::RD_REC_PTR || opcode == op::RD_APC;
}

} // namespace

ChipModel::ChipModel(const DeviceModel& model, SimTime rowDuration)
    : model_(model), rowDuration_(rowDuration), rows_(model.lastRow + 1u) {}

void ChipModel::advanceTo(SimTime now) {
    while (operation_.activity != Activity::Idle && now >= operation_.endsAt)
        finishRow();
}

std::optional<SimTime> ChipModel::nextEvent() const {
    if (operation_.activity == Activity::Idle)
        return std::nullopt;
    return operation_.endsAt;
}

bool ChipModel::execute(std::span<const std::uint8_t> frame, SimTime now) {
    if (frame.empty())
        return false;
    advanceTo(now);
    const std::uint8_t opcode = frame[0];
    const bool accepted = run(opcode, frame, now);
    if (!accepted)
        flags_ |= sr0::CMD_ERR;
    else if (!isPureRead(opcode))
        flags_ &= ~sr0::CMD_ERR;
    return accepted;
}

std::uint16_t ChipModel::sr0() const {
    auto value = static_cast<std::uint16_t>(flags_ | (currentRow_ << sr0::ROW_SHIFT));
    if (poweredUp_)
        value |= sr0::PU;
    // While REC runs, the row under the record pointer is the one being written.
    const bool recordingAtPointer =
        operation_.activity == Activity::Recording && !operation_.ranged;
    if (!recordingAtPointer && isRecorded(recordPointer_))
        value |= sr0::FULL;
    return value;
}

std::uint8_t ChipModel::sr1() const {
    switch (operation_.activity) {
    case Activity::Idle:
        return poweredUp_ ? sr1::RDY : 0;
    case Activity::Playing:
        return sr1::PLAY;
    case Activity::Recording:
        return sr1::REC;
    case Activity::Erasing:
        return sr1::ERASE;
    }
    return 0;
}

std::vector<ChipModel::Message> ChipModel::messages() const {
    std::vector<Message> result;
    for (std::uint16_t start : messageStarts())
        result.push_back({start, messageEnd(start)});
    return result;
}

std::vector<ChipModel::RecordedRun> ChipModel::recordedRuns() const {
    std::vector<RecordedRun> runs;
    std::size_t row = 0;
    while (row < rows_.size()) {
        if (!rows_[row].recorded) {
            ++row;
            continue;
        }
        const std::size_t first = row;
        while (!rows_[row].eom && row + 1 < rows_.size() && rows_[row + 1].recorded)
            ++row;
        runs.push_back(
            {static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(row), rows_[row].eom});
        ++row;
    }
    return runs;
}

void ChipModel::restoreMemory(std::span<const RecordedRun> runs) {
    rows_.assign(rows_.size(), Row{});
    for (const RecordedRun& run : runs) {
        for (std::size_t row = run.first; row <= run.last && row < rows_.size(); ++row)
            rows_[row] = {.recorded = true, .eom = row == run.last && run.eom};
    }
    ++memoryRevision_;
    reset();
}

// ---- commands ----------------------------------------------------------------------

bool ChipModel::run(std::uint8_t opcode, std::span<const std::uint8_t> frame, SimTime now) {
    const bool busy = operation_.activity != Activity::Idle;

    // Commands the chip takes in any state.
    switch (opcode) {
    case op::PU:
        if (busy)
            return false;
        poweredUp_ = true;
        return true;
    case op::STOP:
        if (operation_.activity == Activity::Erasing)
            return false;
        if (operation_.activity == Activity::Recording)
            finishRecording();
        else if (operation_.activity == Activity::Playing)
            finishOperation();
        return true;
    case op::RESET:
        reset();
        return true;
    case op::CLR_INT:
        flags_ &= ~(sr0::INT | sr0::EOM);
        return true;
    case op::RD_STATUS:
    case op::DEVID:
        return true;
    case op::PD:
        // A running operation is finished first.
        if (busy)
            powerDownPending_ = true;
        else
            poweredUp_ = false;
        return true;
    default:
        break;
    }

    // Everything else needs the chip powered up and idle.
    if (!poweredUp_ || busy)
        return false;
    switch (opcode) {
    case op::RD_PLAY_PTR:
    case op::RD_REC_PTR:
    case op::RD_APC:
    case op::EXTCLK:
        return true;
    case op::PLAY:
        return startPlay(now);
    case op::REC:
        return startRecord(now);
    case op::ERASE:
        return eraseMessage(now);
    case op::G_ERASE:
        eraseAll(now);
        return true;
    case op::FWD:
        return forward();
    case op::CHK_MEM:
        return checkMemory();
    case op::WR_APC2:
        if (frame.size() < 3)
            return false;
        // The bridge passes APC<11:8> first, then APC<7:0>.
        apc_ = static_cast<std::uint16_t>(((frame[1] & 0x0F) << 8) | frame[2]);
        return true;
    case op::WR_NVCFG:
        nonVolatileApc_ = apc_;
        return true;
    case op::LD_NVCFG:
        apc_ = nonVolatileApc_;
        return true;
    case op::SET_PLAY:
    case op::SET_REC:
    case op::SET_ERASE:
        return runRange(opcode, frame, now);
    default:
        return false; // unknown, or not carried by this bridge (WR_APC1)
    }
}

bool ChipModel::startPlay(SimTime now) {
    if (!isRecorded(playPointer_))
        return false;
    operation_ = {
        .activity = Activity::Playing, .first = playPointer_, .endsAt = now + rowDuration_};
    currentRow_ = playPointer_;
    return true;
}

bool ChipModel::startRecord(SimTime now) {
    if (isRecorded(recordPointer_))
        return false; // memory full
    operation_ = {
        .activity = Activity::Recording, .first = recordPointer_, .endsAt = now + rowDuration_};
    beginRecordingRow(recordPointer_);
    return true;
}

bool ChipModel::eraseMessage(SimTime now) {
    const auto byAge = [this](std::uint16_t a, std::uint16_t b) {
        return ringDistanceFromRecordPointer(a) < ringDistanceFromRecordPointer(b);
    };
    const std::vector<std::uint16_t> starts = messageStarts();
    if (std::find(starts.begin(), starts.end(), playPointer_) == starts.end())
        return false;
    const std::uint16_t oldest = *std::min_element(starts.begin(), starts.end(), byAge);
    const std::uint16_t newest = *std::max_element(starts.begin(), starts.end(), byAge);
    if (playPointer_ != oldest && playPointer_ != newest)
        return false; // only the first or the last message can be erased

    const std::uint16_t start = playPointer_;
    const std::uint16_t end = messageEnd(start);
    for (std::uint16_t row = start;; row = nextRow(row)) {
        rows_[row] = {};
        if (row == end)
            break;
    }
    ++memoryRevision_;

    const std::vector<std::uint16_t> left = messageStarts();
    if (left.empty()) {
        playPointer_ = recordPointer_ = FIRST_MESSAGE_ROW;
    } else if (start == newest) {
        // The freed rows join the free space in front of the record pointer.
        recordPointer_ = start;
        playPointer_ = *std::max_element(left.begin(), left.end(), byAge);
    } else {
        playPointer_ = *std::min_element(left.begin(), left.end(), byAge);
    }
    currentRow_ = start;
    startErasing(now);
    return true;
}

void ChipModel::eraseAll(SimTime now) {
    for (std::size_t row = FIRST_MESSAGE_ROW; row < rows_.size(); ++row)
        rows_[row] = {};
    ++memoryRevision_;
    playPointer_ = recordPointer_ = currentRow_ = FIRST_MESSAGE_ROW;
    startErasing(now);
}

bool ChipModel::forward() {
    const std::vector<std::uint16_t> starts = messageStarts();
    if (starts.empty())
        return false;
    const auto next = std::upper_bound(starts.begin(), starts.end(), playPointer_);
    playPointer_ = next != starts.end() ? *next : starts.front();
    currentRow_ = playPointer_;
    return true;
}

bool ChipModel::checkMemory() {
    // The messages must form one run round the ring with one free stretch.
    if (freeRowsAfterMessages().size() > 1)
        return false;
    initialisePointers();
    flags_ |= sr0::INT;
    return true;
}

bool ChipModel::runRange(std::uint8_t opcode, std::span<const std::uint8_t> frame, SimTime now) {
    if (frame.size() < 5)
        return false;
    const std::uint16_t start = rowFromBytes(frame[1], frame[2]);
    const std::uint16_t end = rowFromBytes(frame[3], frame[4]);
    if (start > end || end > model_.lastRow)
        return false;

    switch (opcode) {
    case op::SET_PLAY:
        operation_ = {.activity = Activity::Playing,
                      .ranged = true,
                      .first = start,
                      .last = end,
                      .stopAtEom = (apc_ & apc::EOM_ENABLE) != 0,
                      .endsAt = now + rowDuration_};
        currentRow_ = start;
        break;
    case op::SET_REC:
        operation_ = {.activity = Activity::Recording,
                      .ranged = true,
                      .first = start,
                      .last = end,
                      .endsAt = now + rowDuration_};
        beginRecordingRow(start);
        break;
    default: // SET_ERASE
        for (std::uint16_t row = start; row <= end; ++row)
            rows_[row] = {};
        ++memoryRevision_;
        currentRow_ = start;
        startErasing(now);
        break;
    }
    return true;
}

void ChipModel::reset() {
    if (operation_.activity == Activity::Recording)
        finishRecording(); // what was recorded so far stays, closed by an EOM marker
    operation_ = {};
    flags_ = 0;
    poweredUp_ = false;
    powerDownPending_ = false;
    apc_ = nonVolatileApc_;
    initialisePointers();
    currentRow_ = playPointer_;
}

// ---- running operations --------------------------------------------------------------

void ChipModel::finishRow() {
    Operation& operation = operation_;
    switch (operation.activity) {
    case Activity::Idle:
        return;
    case Activity::Erasing:
        finishOperation();
        return;
    case Activity::Playing: {
        const std::uint16_t next = operation.ranged ? currentRow_ + 1 : nextRow(currentRow_);
        const bool atEnd = operation.ranged ? currentRow_ == operation.last
                                            : !isRecorded(next) || next == operation.first;
        if (hasEom(currentRow_) && (!operation.ranged || operation.stopAtEom)) {
            flags_ |= sr0::EOM;
            finishOperation();
        } else if (atEnd) {
            finishOperation();
        } else {
            currentRow_ = next;
            operation.endsAt += rowDuration_;
        }
        return;
    }
    case Activity::Recording: {
        const std::uint16_t next = operation.ranged ? currentRow_ + 1 : nextRow(currentRow_);
        const bool atEnd = operation.ranged ? currentRow_ == operation.last : isRecorded(next);
        if (atEnd) {
            finishRecording();
        } else {
            beginRecordingRow(next);
            operation.endsAt += rowDuration_;
        }
        return;
    }
    }
}

void ChipModel::finishOperation() {
    flags_ |= sr0::INT;
    operation_ = {};
    if (powerDownPending_) {
        poweredUp_ = false;
        powerDownPending_ = false;
    }
}

void ChipModel::finishRecording() {
    rows_[currentRow_].eom = true;
    ++memoryRevision_;
    if (!operation_.ranged) {
        playPointer_ = operation_.first;
        recordPointer_ = nextRow(currentRow_);
    }
    finishOperation();
}

void ChipModel::startErasing(SimTime now) {
    operation_ = {.activity = Activity::Erasing, .endsAt = now + ERASE_DURATION};
}

void ChipModel::beginRecordingRow(std::uint16_t row) {
    currentRow_ = row;
    rows_[row] = {.recorded = true, .eom = false};
    ++memoryRevision_;
}

// ---- the ring of message rows -----------------------------------------------------

std::uint16_t ChipModel::nextRow(std::uint16_t row) const {
    return row >= model_.lastRow ? FIRST_MESSAGE_ROW : static_cast<std::uint16_t>(row + 1);
}

std::uint16_t ChipModel::previousRow(std::uint16_t row) const {
    return row <= FIRST_MESSAGE_ROW ? model_.lastRow : static_cast<std::uint16_t>(row - 1);
}

bool ChipModel::isMessageStart(std::uint16_t row) const {
    const std::uint16_t before = previousRow(row);
    return isRecorded(row) && (!isRecorded(before) || hasEom(before));
}

std::vector<std::uint16_t> ChipModel::messageStarts() const {
    std::vector<std::uint16_t> starts;
    bool anyRecorded = false;
    for (std::uint16_t row = FIRST_MESSAGE_ROW; row <= model_.lastRow; ++row) {
        anyRecorded = anyRecorded || isRecorded(row);
        if (isMessageStart(row))
            starts.push_back(row);
    }
    // A ring recorded all round without a single EOM marker counts as one message.
    if (starts.empty() && anyRecorded)
        starts.push_back(FIRST_MESSAGE_ROW);
    return starts;
}

std::uint16_t ChipModel::messageEnd(std::uint16_t start) const {
    std::uint16_t row = start;
    for (;;) {
        if (hasEom(row))
            return row;
        const std::uint16_t next = nextRow(row);
        if (!isRecorded(next) || next == start)
            return row;
        row = next;
    }
}

std::uint16_t ChipModel::messageStartOf(std::uint16_t row) const {
    std::uint16_t start = row;
    for (;;) {
        const std::uint16_t before = previousRow(start);
        if (!isRecorded(before) || hasEom(before) || before == row)
            return start;
        start = before;
    }
}

int ChipModel::ringDistanceFromRecordPointer(std::uint16_t row) const {
    const int ringSize = model_.lastRow - FIRST_MESSAGE_ROW + 1;
    return ((row - recordPointer_) % ringSize + ringSize) % ringSize;
}

std::vector<std::uint16_t> ChipModel::freeRowsAfterMessages() const {
    std::vector<std::uint16_t> rows;
    for (std::uint16_t row = FIRST_MESSAGE_ROW; row <= model_.lastRow; ++row) {
        if (!isRecorded(row) && isRecorded(previousRow(row)))
            rows.push_back(row);
    }
    return rows;
}

void ChipModel::initialisePointers() {
    // The record pointer goes to the free row after the newest message, the play pointer
    // to the start of that message; an empty memory puts both at the first message row.
    const std::vector<std::uint16_t> free = freeRowsAfterMessages();
    if (!free.empty()) {
        recordPointer_ = free.front();
    } else {
        const std::vector<std::uint16_t> starts = messageStarts();
        recordPointer_ = starts.empty() ? FIRST_MESSAGE_ROW : starts.front();
    }
    const std::uint16_t newestEnd = previousRow(recordPointer_);
    playPointer_ = isRecorded(newestEnd) ? messageStartOf(newestEnd) : recordPointer_;
}

} // namespace tamberlo::bridgesim
