#pragma once

#include "audio/PcmDecoder.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace tamberlo {

// One stream of decoded sound to one sound output, with the output's own clock: how much of
// it has come out of the device (after every buffer on the way), and whether it failed.
class PcmOutput {
public:
    struct State {
        // Frames of the PCM that have come out, counted from its start (the frame playing
        // began at included); -1 while nothing of this playing has come out yet.
        std::int64_t playedFrames = -1;
        bool playing = false;  // started and not stopped
        bool finished = false; // the last frame has come out
        // When the last frame comes out (monotonic microseconds), once the output knows;
        // 0 before.
        std::int64_t lastFrameOutUs = 0;
        QString failure; // why the playing failed (English); empty while it plays well
    };

    virtual ~PcmOutput() = default;
    // The output to play on (a sound server's sink name); empty for the default output.
    virtual void setDevice(const QByteArray& id) = 0;
    // Plays `pcm` from frame `fromFrame` to its end; false with the reason (English) when the
    // output cannot play. A stream still playing is stopped first.
    virtual bool start(std::shared_ptr<const Pcm> pcm, std::int64_t fromFrame, QString* why) = 0;
    virtual void stop() = 0;
    virtual State state() const = 0;
};

} // namespace tamberlo
