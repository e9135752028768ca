#pragma once

#include "audio/QtAudioPlayer.h"
#include "plan/ProgrammerParts.h"

namespace tamberlo::plan {

// The recording source on the panel's own player adapter (Qt Multimedia, GStreamer): the
// file opened and held at its start as the panel's "Open" does, so that "Play" at the end
// of the SET_REC frame starts it with the pipeline already prepared.
class QtRecordingAudio : public RecordingAudio {
public:
    bool load(const QString& path, QString* why) override;
    void start() override { player_.command(PlayerCommand::Play); }
    void stop() override { player_.command(PlayerCommand::Stop); }
    bool outputReady(QString*) override { return true; }
    QString outputName() const override { return QStringLiteral("the default output"); }
    std::int64_t playedMs() const override { return player_.position(); }
    std::int64_t lengthMs() const override { return player_.length(); }
    bool finished() const override { return player_.mode() == Ready; }
    QString failure() const override { return {}; }
    QtAudioPlayer& player() { return player_; }

private:
    QtAudioPlayer player_;
};

} // namespace tamberlo::plan
