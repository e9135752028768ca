#pragma once

#include "chip/ChipClient.h"
#include "chip/ChipOperations.h"

#include <QObject>
#include <cstdint>
#include <vector>

namespace tamberlo {

// The messages in the chip, found through a ChipClient: FWD steps the play pointer from one
// message to the next and a read of the pointer after each step says where it went, until it
// comes round to the first message again (at most one step per row of the model).
//
//     auto* mapper = new ChipMapper(client);
//     connect(mapper, &ChipMapper::finished, [](const MessageMap& map) { ... map.starts ... });
//     mapper->start();
//
// Before stepping it reads the device ID (the model bounds the steps), powers the chip up
// when it is down, waits out an erase in progress and refuses to disturb a running play or
// record. When the play pointer starts on a message it ends there again (n steps for n
// messages); otherwise it ends on the first message it met (n + 1 steps).
struct MessageMap {
    const ChipModel* model = nullptr;
    std::vector<std::uint16_t> starts; // start rows, rising
    std::uint16_t recordPointer = 0;   // where the next recording would start
    int frames = 0;                    // frames sent for the whole map
    ChipError error = ChipError::None;
    QString errorText;

    bool ok() const { return error == ChipError::None; }
};

class ChipMapper : public QObject {
    Q_OBJECT
public:
    explicit ChipMapper(ChipClient& client, QObject* parent = nullptr);

    void start();
    const MessageMap& map() const { return map_; }

signals:
    // After each step: messages found so far, and the most there can be.
    void progress(int found, int bound);
    void finished(const tamberlo::MessageMap& map);

private:
    void afterId(const ChipResult& result);
    void checkIdle();
    void step();
    void afterStep(const ChipResult& result);
    void done(ChipError error = ChipError::None, const QString& text = {});
    int bound() const;

    ChipOperations ops_;
    MessageMap map_;
    std::optional<std::uint16_t> first_;
    std::uint16_t initial_ = 0; // the play pointer before the first step
    bool running_ = false;
    int framesBefore_ = 0;
};

} // namespace tamberlo
