#include "audio/QtAudioPlayer.h"

#include "audio/AudioFormat.h"
#include "audio/AudioOutputs.h"
#include "audio/DecoderRegistry.h"
#include "audio/PulseOutput.h"

#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace tamberlo {

QtAudioPlayer::QtAudioPlayer(QObject* parent)
    : QtAudioPlayer(std::make_unique<PulseOutput>(), parent) {}

QtAudioPlayer::QtAudioPlayer(std::unique_ptr<PcmOutput> output, QObject* parent)
    : AudioPlayer(parent), output_(std::move(output)) {
    statusTimer_.setObjectName(QStringLiteral("StatusTimer"));
    // Elapsed times are counted in ticks, so the ticks must keep their period.
    statusTimer_.setTimerType(Qt::PreciseTimer);
    connect(&statusTimer_, &QTimer::timeout, this, &AudioPlayer::statusUpdate);
    startTimer_.setSingleShot(true);
    startTimer_.setInterval(0);
    connect(&startTimer_, &QTimer::timeout, this, &QtAudioPlayer::startOutput);
}

QtAudioPlayer::~QtAudioPlayer() {
    statusTimer_.stop();
    output_->stop();
}

void QtAudioPlayer::command(PlayerCommand command) {
    last_ = command;
    switch (command) {
    case PlayerCommand::Open:
        open();
        break;
    case PlayerCommand::close:
    case PlayerCommand::Close:
        close();
        break;
    case PlayerCommand::Play:
        play();
        break;
    case PlayerCommand::Pause:
        pause();
        break;
    case PlayerCommand::Stop:
        startTimer_.stop();
        output_->stop();
        heldFrame_ = 0;
        state_ = State::Stopped;
        break;
    case PlayerCommand::None:
        break;
    }
}

void QtAudioPlayer::open() {
    close();
    error_.clear();
    if (fileName_.isEmpty()) {
        error_ = tr("没有文件名");
        return;
    }
    if (!QFileInfo(fileName_).isFile()) {
        error_ = tr("文件不存在");
        return;
    }
    // Decoding is synchronous: prompts are seconds long and decode in milliseconds, so
    // "Open" returns with the length known whether or not the caller asked to wait.
    const DecodeResult decoded = decodeAudioFile(fileName_);
    if (!decoded.pcm) {
        error_ = describeFailure(identifyAudioFile(fileName_), decoded.error);
        return;
    }
    pcm_ = decoded.pcm;
}

QString QtAudioPlayer::describeFailure(const std::optional<AudioFormat>& format,
                                       const QString& why) const {
    // The decoders' own words are English: they go to the log, the operator is told in the
    // panel's language.
    qInfo("audio: cannot decode %s: %s", qPrintable(fileName_), qPrintable(why));
    // A file that cannot be decoded because a decoder (or container reader) is not
    // installed: say which format it is and where its decoder normally comes from.
    if (format) {
        if (const auto missing = missingDecodeStep(*format)) {
            return tr("没有安装 %1 格式的解码器。\n它通常由软件包 %2 提供。")
                .arg(format->name(), missing->package);
        }
    }
    if (!QFileInfo(fileName_).isReadable())
        return tr("没有读取这个文件的权限。");
    if (format)
        return tr("无法读取这个文件，或者文件已经损坏。");
    return tr("文件格式无法识别，或者文件已经损坏。");
}

void QtAudioPlayer::close() {
    startTimer_.stop();
    output_->stop();
    startPoint_.reset();
    pcm_.reset();
    heldFrame_ = 0;
    state_ = State::Stopped;
    playFailure_.clear();
}

void QtAudioPlayer::play() {
    if (!pcm_)
        return;
    const std::int32_t now = mode();
    if (now == Playing && !startPoint_)
        return;
    // The start point set since the last "Play" applies now, not when it was given, so the
    // sound that was playing did not jump.
    if (startPoint_) {
        heldFrame_ =
            std::clamp<std::int64_t>(pcm_->framesAt(std::max(0, *startPoint_)), 0, pcm_->frames());
        startPoint_.reset();
    } else if (now == Ready || heldFrame_ >= pcm_->frames()) {
        heldFrame_ = 0; // played to the end: from the start again
    }
    output_->stop();
    playFailure_.clear();
    state_ = State::Starting;
    startTimer_.start();
}

void QtAudioPlayer::startOutput() {
    if (state_ != State::Starting || !pcm_)
        return;
    QString why;
    if (!output_->start(pcm_, heldFrame_, &why)) {
        qWarning("audio: cannot play %s: %s", qPrintable(fileName_), qPrintable(why));
        playFailure_ = why;
        state_ = State::Stopped;
        return;
    }
    state_ = State::Playing;
}

void QtAudioPlayer::pause() {
    if (!pcm_)
        return;
    if (state_ == State::Playing) {
        const PcmOutput::State s = output_->state();
        if (s.playedFrames >= 0)
            heldFrame_ = s.playedFrames;
        output_->stop();
    }
    startTimer_.stop();
    state_ = State::Paused;
}

std::int64_t QtAudioPlayer::framesToMs(std::int64_t frames) const {
    return pcm_ && pcm_->rate > 0 ? frames * 1000 / pcm_->rate : 0;
}

std::int32_t QtAudioPlayer::length() const {
    if (!pcm_)
        return 0;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(pcm_->lengthMs(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t QtAudioPlayer::mode() const {
    if (!pcm_)
        return NotOpen;
    switch (state_) {
    case State::Stopped:
        return Stopped;
    case State::Paused:
        return Paused;
    case State::Starting:
        return Playing;
    case State::Playing:
        break;
    }
    const PcmOutput::State s = output_->state();
    if (s.finished)
        return Ready;
    if (!s.failure.isEmpty() || !s.playing)
        return Stopped;
    return Playing;
}

std::int64_t QtAudioPlayer::position() const {
    if (!pcm_)
        return 0;
    if (state_ == State::Playing) {
        const PcmOutput::State s = output_->state();
        return framesToMs(s.playedFrames >= 0 ? s.playedFrames : heldFrame_);
    }
    return framesToMs(heldFrame_);
}

std::int64_t QtAudioPlayer::playedMs() const {
    if (!pcm_ || state_ != State::Playing)
        return -1;
    const PcmOutput::State s = output_->state();
    return s.playedFrames >= 0 ? framesToMs(s.playedFrames) : -1;
}

QString QtAudioPlayer::playFailure() const {
    if (state_ == State::Playing) {
        const PcmOutput::State s = output_->state();
        if (!s.failure.isEmpty())
            return s.failure;
    }
    return playFailure_;
}

void QtAudioPlayer::setUpdateInterval(int ms) {
    interval_ = std::max(0, ms);
    if (interval_ == 0) {
        statusTimer_.stop();
        return;
    }
    // Setting the running period again keeps the ticks' phase.
    if (statusTimer_.isActive() && statusTimer_.interval() == interval_)
        return;
    statusTimer_.start(interval_);
}

void QtAudioPlayer::setOutputDevice(const QByteArray& id) {
    output_->setDevice(id);
    outputId_ = id;
}

bool QtAudioPlayer::outputReady(QString* why) const {
    return audioOutputReady(outputId_, why);
}

} // namespace tamberlo
