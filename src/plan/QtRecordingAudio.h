#pragma once

#include "audio/PcmDecoder.h"
// The command line measures files through the panel's player, which it finds here.
#include "audio/PcmOutput.h"
#include "audio/QtAudioPlayer.h"
#include "plan/ProgrammerParts.h"

#include <QByteArray>
#include <memory>

namespace tamberlo::plan {

// The recording source: the whole file decoded to PCM before the chip listens, played through
// a stream of the sound server whose clock tells what has come out of the output. start()
// hands the first samples over at once; the server plays them after its buffer.
class QtRecordingAudio : public RecordingAudio {
public:
    QtRecordingAudio();
    // With an output of the caller's (tests).
    explicit QtRecordingAudio(std::unique_ptr<PcmOutput> output);
    ~QtRecordingAudio() override;

    // The output to play on: an id from audioOutputs(); empty for the default output.
    void setOutputDevice(const QByteArray& id);

    bool outputReady(QString* why) override;
    QString outputName() const override;
    bool load(const QString& path, QString* why) override;
    void start() override;
    void stop() override;
    std::int64_t playedMs() const override;
    std::int64_t lengthMs() const override;
    bool finished() const override;
    std::int64_t lastSampleOutUs() const override;
    QString failure() const override;

private:
    std::unique_ptr<PcmOutput> output_;
    QByteArray device_;
    QString outputName_;
    std::shared_ptr<const Pcm> pcm_;
    QString startFailure_;
    bool started_ = false;
};

} // namespace tamberlo::plan
