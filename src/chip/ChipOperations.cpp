#include "chip/ChipOperations.h"

#include "chip/Catalogue.h"

#include <memory>

namespace tamberlo {

ChipOperations::ChipOperations(ChipClient& client, Failed failed)
    : client_(client), failed_(std::move(failed)) {}

void ChipOperations::submit(std::vector<std::uint8_t> frame, bool confirm, Next next,
                            Failed failed) {
    frames_ += confirm ? 2 : 1;
    client_.submit({std::move(frame), confirm},
                   [this, next = std::move(next), failed = std::move(failed)](const ChipResult& r) {
                       if (halted_)
                           return;
                       if (r.ok()) {
                           next(r);
                       } else if (failed) {
                           failed(r);
                       } else {
                           halted_ = true;
                           if (failed_)
                               failed_(r);
                       }
                   });
}

void ChipOperations::waitWhileErasing(Next next, Failed failed) {
    waitRead(EraseWaitReads, std::move(next), std::move(failed));
}

void ChipOperations::waitRead(int readsLeft, Next next, Failed failed) {
    // An erase keeps the chip busy for a while; it is over when the chip no longer says it
    // is erasing, so that the next command is not refused for it.
    submit(
        singleFrame(Opcode::CurrentAddress), false,
        [this, readsLeft, next, failed](const ChipResult& r) {
            if (!r.decoded.address || !r.decoded.address->erasing()) {
                next(r);
                return;
            }
            if (readsLeft > 1) {
                waitRead(readsLeft - 1, next, failed);
                return;
            }
            ChipResult still = r;
            still.error = ChipError::Timeout;
            still.errorText = QStringLiteral("the chip is still erasing after %1 reads of the "
                                             "current address")
                                  .arg(EraseWaitReads);
            if (failed) {
                failed(still);
                return;
            }
            halted_ = true;
            if (failed_)
                failed_(still);
        },
        failed);
}

void ChipOperations::readSnapshot(std::function<void(const ChipSnapshot&)> next) {
    auto snapshot = std::make_shared<ChipSnapshot>();
    submit(singleFrame(Opcode::DEVID), false, [this, snapshot, next](const ChipResult& id) {
        snapshot->model = id.model;
        snapshot->deviceId = id.decoded.deviceId.value_or(0);
        snapshot->status = id.decoded.status.value_or(ChipStatus{});
        submit(singleFrame(Opcode::RD_PLAY_PTR), false,
               [this, snapshot, next](const ChipResult& play) {
                   snapshot->playPointer = play.decoded.pointer.value_or(0);
                   submit(singleFrame(Opcode::RD_REC_PTR), false,
                          [this, snapshot, next](const ChipResult& rec) {
                              snapshot->recordPointer = rec.decoded.pointer.value_or(0);
                              submit(singleFrame(Opcode::CurrentAddress), false,
                                     [snapshot, next](const ChipResult& cur) {
                                         snapshot->address =
                                             cur.decoded.address.value_or(CurrentAddress{});
                                         next(*snapshot);
                                     });
                          });
               });
    });
}

} // namespace tamberlo
