#include "plan/QtRecordingAudio.h"

#include "audio/AudioOutputs.h"
#include "audio/PulseOutput.h"

#include <QFileInfo>

namespace tamberlo::plan {

QtRecordingAudio::QtRecordingAudio() : QtRecordingAudio(std::make_unique<PulseOutput>()) {}

QtRecordingAudio::QtRecordingAudio(std::unique_ptr<PcmOutput> output)
    : output_(std::move(output)) {}

QtRecordingAudio::~QtRecordingAudio() {
    output_->stop();
}

void QtRecordingAudio::setOutputDevice(const QByteArray& id) {
    device_ = id;
    outputName_.clear();
    output_->setDevice(id);
}

bool QtRecordingAudio::outputReady(QString* why) {
    // The outputs as the server lists them now: the name for messages comes with them.
    const QList<AudioOutput> outputs = audioOutputs();
    for (const AudioOutput& output : outputs) {
        if (device_.isEmpty() ? output.isDefault : output.id == device_) {
            outputName_ = device_.isEmpty()
                              ? QStringLiteral("the default output (%1)").arg(output.description)
                              : QStringLiteral("the output %1").arg(output.description);
            break;
        }
    }
    return audioOutputReady(device_, why);
}

QString QtRecordingAudio::outputName() const {
    if (!outputName_.isEmpty())
        return outputName_;
    return device_.isEmpty() ? QStringLiteral("the default output")
                             : QStringLiteral("the output %1").arg(QString::fromUtf8(device_));
}

bool QtRecordingAudio::load(const QString& path, QString* why) {
    const auto reason = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    output_->stop();
    started_ = false;
    pcm_.reset();
    if (!QFileInfo(path).isFile())
        return reason(QStringLiteral("no such file"));
    const DecodeResult decoded = decodeAudioFile(path);
    if (!decoded.pcm)
        return reason(QStringLiteral("cannot be played: %1").arg(decoded.error));
    pcm_ = decoded.pcm;
    return true;
}

void QtRecordingAudio::start() {
    startFailure_.clear();
    started_ = true;
    QString why;
    if (!pcm_)
        startFailure_ = QStringLiteral("nothing loaded");
    else if (!output_->start(pcm_, 0, &why))
        startFailure_ = why;
}

void QtRecordingAudio::stop() {
    output_->stop();
    started_ = false;
}

std::int64_t QtRecordingAudio::playedMs() const {
    if (!pcm_ || !started_)
        return 0;
    const PcmOutput::State s = output_->state();
    return s.playedFrames > 0 ? s.playedFrames * 1000 / pcm_->rate : 0;
}

std::int64_t QtRecordingAudio::lengthMs() const {
    return pcm_ ? pcm_->lengthMs() : 0;
}

bool QtRecordingAudio::finished() const {
    return pcm_ && started_ && output_->state().finished;
}

std::int64_t QtRecordingAudio::lastSampleOutUs() const {
    return pcm_ && started_ ? output_->state().lastFrameOutUs : 0;
}

QString QtRecordingAudio::failure() const {
    if (!started_)
        return {};
    if (!startFailure_.isEmpty())
        return startFailure_;
    const PcmOutput::State s = output_->state();
    if (!s.failure.isEmpty())
        return s.failure;
    if (!s.playing)
        return QStringLiteral("the output stopped playing");
    return {};
}

} // namespace tamberlo::plan
