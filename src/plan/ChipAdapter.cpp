#include "plan/ChipAdapter.h"

#include "chip/Catalogue.h"
#include "chip/ChipReply.h"

namespace tamberlo::plan {

ChipAdapter::ChipAdapter(ChipClient& client, QObject* parent)
    : QObject(parent), client_(client), ops_(client, {}) {
    connect(&client_, &ChipClient::deviceLost, this,
            [this] { emit deviceLost(QStringLiteral("the device went away")); });
    connect(&client_, &ChipClient::frameSent, this, [this](std::uint8_t opcode, qint64) {
        if (sent_ && opcode == sentOpcode_) {
            const Sent sent = std::move(sent_);
            sent_ = {};
            sent();
        }
    });
}

ProgrammerChip::Result ChipAdapter::resultOf(const ChipResult& r) {
    Result result;
    switch (r.error) {
    case ChipError::None:
        break;
    case ChipError::Refused:
        result.fault = Fault::Refused;
        break;
    case ChipError::DeviceLost:
    case ChipError::PortClosed:
        result.fault = Fault::DeviceLost;
        break;
    case ChipError::Timeout:
    case ChipError::Cancelled:
        result.fault = Fault::Timeout;
        break;
    }
    result.text = r.errorText;
    // The freshest status: the confirming read's, else the command's own reply's.
    const std::optional<ChipStatus> status = r.confirmation ? r.confirmation : r.decoded.status;
    if (status) {
        result.hasStatus = true;
        result.full = status->full();
    }
    if (r.decoded.status && r.decoded.status->row())
        result.currentRow = *r.decoded.status->row();
    if (r.decoded.pointer)
        result.pointer = *r.decoded.pointer;
    if (r.decoded.deviceId)
        result.deviceId = *r.decoded.deviceId;
    if (r.decoded.address) {
        result.ready = r.decoded.address->ready();
        result.currentRow = r.decoded.address->row;
    }
    return result;
}

void ChipAdapter::send(std::vector<std::uint8_t> frame, bool confirm, Done done) {
    // Each step hands its result on, a fault too: the programmer decides what follows.
    const auto reply = [done = std::move(done)](const ChipResult& r) { done(resultOf(r)); };
    ops_.submit(std::move(frame), confirm, reply, reply);
}

void ChipAdapter::powerUp(Done done) {
    send(singleFrame(Opcode::PU), false, std::move(done));
}

void ChipAdapter::deviceId(Done done) {
    send(singleFrame(Opcode::DEVID), false, std::move(done));
}

void ChipAdapter::eraseAll(Done done) {
    send(singleFrame(Opcode::G_ERASE), true, std::move(done));
}

void ChipAdapter::eraseRows(int start, int end, Done done) {
    send(rangeFrame(Opcode::SET_ERASE, static_cast<std::uint16_t>(start),
                    static_cast<std::uint16_t>(end)),
         true, std::move(done));
}

void ChipAdapter::waitUntilReady(Done done) {
    const auto reply = [done = std::move(done)](const ChipResult& r) { done(resultOf(r)); };
    ops_.waitWhileErasing(reply, reply);
}

void ChipAdapter::setRecord(int start, int end, Sent sent, Done done) {
    sentOpcode_ = Opcode::SET_REC;
    sent_ = std::move(sent);
    send(rangeFrame(Opcode::SET_REC, static_cast<std::uint16_t>(start),
                    static_cast<std::uint16_t>(end)),
         true, std::move(done));
}

void ChipAdapter::stop(Sent sent, Done done) {
    sentOpcode_ = Opcode::STOP;
    sent_ = std::move(sent);
    client_.stopNow([done = std::move(done)](const ChipResult& r) { done(resultOf(r)); });
}

void ChipAdapter::readRecordPointer(Done done) {
    send(singleFrame(Opcode::RD_REC_PTR), false, std::move(done));
}

void ChipAdapter::scanMessages(Done done) {
    mapper_ = std::make_unique<ChipMapper>(client_);
    connect(mapper_.get(), &ChipMapper::finished, this,
            [done = std::move(done)](const MessageMap& map) {
                Result result;
                if (!map.ok()) {
                    ChipResult failed;
                    failed.error = map.error;
                    failed.errorText = map.errorText;
                    result = resultOf(failed);
                }
                for (std::uint16_t s : map.starts)
                    result.starts.append(s);
                done(result);
            });
    mapper_->start();
}

} // namespace tamberlo::plan
