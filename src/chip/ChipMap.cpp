#include "chip/ChipMap.h"

#include "chip/Catalogue.h"

#include <algorithm>

namespace tamberlo {

namespace {
// Messages live in rows 0x010 up to the model's last row.
constexpr std::uint16_t FirstMessageRow = 0x010;
constexpr std::uint16_t LastRowOfAny = 0x7FF;
} // namespace

ChipMapper::ChipMapper(ChipClient& client, QObject* parent) : QObject(parent), client_(client) {}

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
    send(singleFrame(Opcode::DEVID), false, [this](const ChipResult& r) { afterId(r); });
}

void ChipMapper::send(std::vector<std::uint8_t> frame, bool confirm,
                      std::function<void(const ChipResult&)> next) {
    ++map_.frames;
    if (confirm)
        ++map_.frames;
    client_.submit({std::move(frame), confirm},
                   [this, next = std::move(next)](const ChipResult& r) {
                       if (!r.ok()) {
                           done(r.error, r.errorText);
                           return;
                       }
                       next(r);
                   });
}

void ChipMapper::afterId(const ChipResult& result) {
    map_.model = result.model;
    const bool poweredUp = result.decoded.status && result.decoded.status->poweredUp();
    if (!poweredUp) {
        send(singleFrame(Opcode::PU), true,
             [this](const ChipResult&) { checkIdle(EraseWaitReads); });
        return;
    }
    checkIdle(EraseWaitReads);
}

void ChipMapper::checkIdle(int readsLeft) {
    send(singleFrame(Opcode::CurrentAddress), false, [this, readsLeft](const ChipResult& r) {
        const std::optional<CurrentAddress> address = r.decoded.address;
        if (address && (address->playing() || address->recording())) {
            done(ChipError::Refused,
                 QStringLiteral("the chip is %1; stop it before mapping").arg(address->activity()));
            return;
        }
        if (address && address->erasing()) {
            if (readsLeft <= 1) {
                done(ChipError::Timeout, QStringLiteral("the chip is still erasing"));
                return;
            }
            checkIdle(readsLeft - 1);
            return;
        }
        send(singleFrame(Opcode::RD_REC_PTR), false, [this](const ChipResult& rec) {
            map_.recordPointer = rec.decoded.pointer.value_or(0);
            send(singleFrame(Opcode::RD_PLAY_PTR), false, [this](const ChipResult& play) {
                initial_ = play.decoded.pointer.value_or(0);
                step();
            });
        });
    });
}

void ChipMapper::step() {
    send(singleFrame(Opcode::FWD), false, [this](const ChipResult&) {
        send(singleFrame(Opcode::RD_PLAY_PTR), false,
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
             QStringLiteral("the chip refused FWD (0x%1) after %2 messages (CMD_ERR)")
                 .arg(Opcode::FWD, 2, 16, QLatin1Char('0'))
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
    map_.error = error;
    map_.errorText = text;
    emit finished(map_);
}

} // namespace tamberlo
