#pragma once

#include "chip/ChipClient.h"
#include "chip/ChipMap.h"
#include "chip/ChipOperations.h"
#include "plan/ProgrammerParts.h"

#include <QObject>
#include <memory>

namespace tamberlo::plan {

// The programmer's chip on the chip client: each step one request, its result handed on.
// SET_REC is confirmed by the client's status read right after it, so a refused SET_REC
// is known about 100 ms into the recording rather than at its end; SET_ERASE and G_ERASE
// are confirmed the same way. STOP's result carries the status of its reply (FULL).
class ChipAdapter : public QObject, public ProgrammerChip {
    Q_OBJECT
public:
    explicit ChipAdapter(ChipClient& client, QObject* parent = nullptr);

    void powerUp(Done done) override;
    void deviceId(Done done) override;
    void eraseAll(Done done) override;
    void eraseRows(int start, int end, Done done) override;
    void waitUntilReady(Done done) override;
    void setRecord(int start, int end, Sent sent, Done done) override;
    void stop(Sent sent, Done done) override;
    void readRecordPointer(Done done) override;
    void scanMessages(Done done) override;
    // The client writes a frame's first byte at once once the line has been quiet for a
    // pacing interval, as it has by the end of a file.
    int handOverLeadMs() const override { return 0; }

    // Results as the programmer sees them.
    static Result resultOf(const ChipResult& r);

signals:
    // The device behind the port went away (the client's own notice, at once, not at the next
    // command).
    void deviceLost(const QString& why);

private:
    void send(std::vector<std::uint8_t> frame, bool confirm, Done done);

    ChipClient& client_;
    ChipOperations ops_;
    std::unique_ptr<ChipMapper> mapper_;
    // Run when the next frame with this opcode has left.
    std::uint8_t sentOpcode_ = 0;
    Sent sent_;
};

} // namespace tamberlo::plan
