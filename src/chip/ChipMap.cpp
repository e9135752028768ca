#include "chip/ChipMap.h"

#include "chip/Catalogue.h"
#include "codec/HexText.h"

#include <algorithm>

namespace tamberlo {

ChipMapper::ChipMapper(ChipClient& client, QObject* parent)
    : QObject(parent), ops_(client, [this](const ChipResult& r) { done(r.error, r.errorText); }) {}

int ChipMapper::bound() const {
    const std::uint16_t last = map_.model ? map_.model->lastRow : LastRowOfAny;
    return last - FirstMessageRow + 1;
}

void ChipMapper::start() {
    if (running_)
        return;
    running_ = true;
    map_ = {};
    first_.reset();
    initial_ = 0;
    framesBefore_ = ops_.frames();
    ops_.resume();
    ops_.submit(singleFrame(Opcode::DEVID), false, [this](const ChipResult& r) { afterId(r); });
}

void ChipMapper::afterId(const ChipResult& result) {
    map_.model = result.model;
    const bool poweredUp = result.decoded.status && result.decoded.status->poweredUp();
    if (!poweredUp) {
        ops_.submit(singleFrame(Opcode::PU), true, [this](const ChipResult&) { checkIdle(); });
        return;
    }
    checkIdle();
}

void ChipMapper::checkIdle() {
    // An erase in progress is waited out; a running play or record is not disturbed.
    ops_.waitWhileErasing([this](const ChipResult& r) {
        const std::optional<CurrentAddress> address = r.decoded.address;
        if (address && (address->playing() || address->recording())) {
            done(ChipError::Refused,
                 QStringLiteral("the chip is %1; stop it before mapping").arg(address->activity()));
            return;
        }
        ops_.submit(singleFrame(Opcode::RD_REC_PTR), false, [this](const ChipResult& rec) {
            map_.recordPointer = rec.decoded.pointer.value_or(0);
            ops_.submit(singleFrame(Opcode::RD_PLAY_PTR), false, [this](const ChipResult& play) {
                initial_ = play.decoded.pointer.value_or(0);
                step();
            });
        });
    });
}

void ChipMapper::step() {
    ops_.submit(singleFrame(Opcode::FWD), false, [this](const ChipResult&) {
        ops_.submit(singleFrame(Opcode::RD_PLAY_PTR), false,
                    [this](const ChipResult& r) { afterStep(r); });
    });
}

void ChipMapper::afterStep(const ChipResult& result) {
    // The pointer read's status is the chip's answer to the FWD before it.
    if (result.decoded.status && result.decoded.status->refused()) {
        if (!first_) {
            done(); // nothing to step to: the chip holds no message
            return;
        }
        done(ChipError::Refused,
             QStringLiteral("the chip refused FWD (%1) after %2 messages (CMD_ERR)")
                 .arg(hexByte(Opcode::FWD))
                 .arg(map_.starts.size()));
        return;
    }
    const std::uint16_t pointer = result.decoded.pointer.value_or(0);
    // Round once a message comes again. Started on a message, the ring closes on that one,
    // and the play pointer is back where it was.
    const bool backToStart = pointer == initial_;
    if ((first_ && pointer == *first_) || backToStart) {
        if (backToStart &&
            std::find(map_.starts.begin(), map_.starts.end(), pointer) == map_.starts.end())
            map_.starts.push_back(pointer);
        std::sort(map_.starts.begin(), map_.starts.end());
        emit progress(static_cast<int>(map_.starts.size()), bound());
        done();
        return;
    }
    if (!first_)
        first_ = pointer;
    map_.starts.push_back(pointer);
    emit progress(static_cast<int>(map_.starts.size()), bound());
    if (static_cast<int>(map_.starts.size()) > bound()) {
        done(ChipError::Timeout,
             QStringLiteral("the play pointer did not come round within %1 steps").arg(bound()));
        return;
    }
    step();
}

void ChipMapper::done(ChipError error, const QString& text) {
    running_ = false;
    map_.frames = ops_.frames() - framesBefore_;
    map_.error = error;
    map_.errorText = text;
    emit finished(map_);
}

} // namespace tamberlo
