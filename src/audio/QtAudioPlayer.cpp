#include "audio/QtAudioPlayer.h"

#include "audio/AudioFormat.h"
#include "audio/AudioOutputs.h"
#include "audio/DecoderRegistry.h"
#include "audio/ImaAdpcm.h"
#include "audio/Mp3Length.h"

#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>
#include <algorithm>
#include <limits>
#include <memory>

namespace tamberlo {

namespace {

// A file read as if it ended `size` bytes in: a WAV file without the pad byte after its odd
// sized sound data, which GStreamer's WAV reader cannot take at the end of a file.
class ShortenedFile : public QFile {
public:
    ShortenedFile(const QString& name, qint64 size) : QFile(name), size_(size) {}
    qint64 size() const override { return size_; }
    bool atEnd() const override { return pos() >= size_; }
    qint64 bytesAvailable() const override { return std::max<qint64>(0, size_ - pos()); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        return QFile::readData(data, std::min(maxSize, std::max<qint64>(0, size_ - pos())));
    }

private:
    qint64 size_;
};

// The file as the backend is to read it, when not simply by its name: the formats GStreamer
// 1.22 gets wrong.
std::unique_ptr<QIODevice> readerFor(const QString& path, const AudioFormat& format) {
    if (auto pcm = ImaAdpcmAsPcm::open(path, format))
        return pcm;
    if (format.endsInPadByte) {
        auto file = std::make_unique<ShortenedFile>(path, QFileInfo(path).size() - 1);
        if (file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return file;
    }
    return nullptr;
}

} // namespace

QtAudioPlayer::QtAudioPlayer(QObject* parent) : AudioPlayer(parent) {
    statusTimer_.setObjectName(QStringLiteral("StatusTimer"));
    // Elapsed times are counted in ticks, so the ticks must keep their period.
    statusTimer_.setTimerType(Qt::PreciseTimer);
    connect(&statusTimer_, &QTimer::timeout, this, &AudioPlayer::statusUpdate);
}

QtAudioPlayer::~QtAudioPlayer() {
    statusTimer_.stop();
    if (player_) {
        player_->stop();
        // The player is deleted after the members: it must let go of the file first.
        player_->setSource(QUrl());
    }
}

void QtAudioPlayer::ensurePlayer() {
    if (player_)
        return;
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
    player_ = new QMediaPlayer(this);
    output_ = new QAudioOutput(this);
    player_->setAudioOutput(output_);
    connect(player_, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString& text) {
                if (opening_ && !backendError_) {
                    backendError_ = error;
                    backendErrorText_ = text;
                }
            });
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
        if (player_ && !player_->source().isEmpty())
            player_->pause();
        break;
    case PlayerCommand::Stop:
        if (player_)
            player_->stop();
        break;
    case PlayerCommand::None:
        break;
    }
}

void QtAudioPlayer::open() {
    // After a file the backend could not play, its pipeline fails the next file too
    // ("Internal data stream error"): the next file gets a new player.
    if (player_ && !error_.isEmpty()) {
        player_->disconnect(this);
        delete player_;
        delete output_;
        player_ = nullptr;
        output_ = nullptr;
    }
    ensurePlayer();
    error_.clear();
    backendError_.reset();
    backendErrorText_.clear();
    startPoint_.reset();
    countedLengthMs_ = 0;
    statedLengthMs_ = 0;
    player_->stop();
    player_->setSource(QUrl());
    device_.reset();

    if (fileName_.isEmpty()) {
        error_ = tr("没有文件名");
        return;
    }
    if (!QFileInfo(fileName_).isFile()) {
        error_ = tr("文件不存在");
        return;
    }

    const auto format = identifyAudioFile(fileName_);
    opening_ = true;
    device_ = format ? readerFor(fileName_, *format) : nullptr;
    if (device_)
        player_->setSourceDevice(device_.get(), QUrl::fromLocalFile(fileName_));
    else
        player_->setSource(QUrl::fromLocalFile(fileName_));
    if (wait_ && player_->mediaStatus() == QMediaPlayer::LoadingMedia) {
        // Wait for the load to finish so the length read next is the real one. Timers,
        // serial notifications and repaints go on meanwhile; clicks and keys wait.
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(player_, &QMediaPlayer::mediaStatusChanged, &loop,
                [&loop](QMediaPlayer::MediaStatus status) {
                    if (status != QMediaPlayer::LoadingMedia)
                        loop.quit();
                });
        connect(player_, &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
        timeout.start(openTimeoutMs_);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (player_->mediaStatus() == QMediaPlayer::LoadingMedia && !backendError_) {
            error_ = tr("加载超时");
            player_->setSource(QUrl());
        }
    }
    opening_ = false;

    if (error_.isEmpty() && (backendError_ || player_->mediaStatus() == QMediaPlayer::InvalidMedia))
        error_ = describeBackendFailure(format);
    if (!error_.isEmpty()) {
        // An error while loading leaves nothing usable behind.
        if (player_->mediaStatus() != QMediaPlayer::InvalidMedia || device_)
            player_->setSource(QUrl());
        device_.reset();
        return;
    }
    // Compressed WAV data ends in a padded block: the samples the file states are its length.
    if (format && format->samples > 0 && format->sampleRate > 0) {
        statedLengthMs_ = static_cast<std::int32_t>(std::min<std::int64_t>(
            (format->samples * 1000 + format->sampleRate / 2) / format->sampleRate,
            std::numeric_limits<std::int32_t>::max()));
    } else if (format && format->mpegStream && !format->mpegVbrHeader) {
        // MPEG audio without a VBR header: the backend guesses the length from the frames it
        // has seen so far, which for VBR can be off by half or more. Its frames tell exactly.
        const auto counted = mpegAudioFileLengthMs(fileName_);
        statedLengthMs_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            counted.value_or(0), 0, std::numeric_limits<std::int32_t>::max()));
    } else if (player_->mediaStatus() != QMediaPlayer::LoadingMedia && player_->duration() <= 0) {
        const auto counted = mpegAudioFileLengthMs(fileName_);
        countedLengthMs_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            counted.value_or(0), 0, std::numeric_limits<std::int32_t>::max()));
    }
}

QString QtAudioPlayer::describeBackendFailure(const std::optional<AudioFormat>& format) const {
    const QMediaPlayer::Error error = backendError_.value_or(player_->error());
    const QString backendText = backendError_ ? backendErrorText_ : player_->errorString();
    // The backend's own words are English (or whatever its language is): they go to the log,
    // the operator is told in the panel's language.
    if (!backendText.isEmpty())
        qInfo("audio: the media backend could not open %s: %s", qPrintable(fileName_),
              qPrintable(backendText));

    // A file the backend cannot decode because a decoder (or container reader) is not
    // installed: say which format it is and where its decoder normally comes from.
    if (format) {
        if (const auto missing = missingDecodeStep(*format)) {
            return tr("没有安装 %1 格式的解码器。\n它通常由软件包 %2 提供。")
                .arg(format->name(), missing->package);
        }
    }
    switch (error) {
    case QMediaPlayer::ResourceError:
        return tr("无法读取这个文件，或者文件已经损坏。");
    case QMediaPlayer::AccessDeniedError:
        return tr("没有读取这个文件的权限。");
    case QMediaPlayer::FormatError:
    default:
        return tr("文件格式无法识别，或者文件已经损坏。");
    }
}

void QtAudioPlayer::close() {
    startPoint_.reset();
    countedLengthMs_ = 0;
    statedLengthMs_ = 0;
    if (!player_)
        return;
    player_->stop();
    player_->setSource(QUrl());
    device_.reset();
}

void QtAudioPlayer::play() {
    if (!player_ || player_->source().isEmpty())
        return;
    // The start point set since the last "Play" applies now, not when it was given, so the
    // sound that was playing did not jump.
    if (startPoint_) {
        player_->setPosition(std::max<std::int64_t>(0, *startPoint_));
        startPoint_.reset();
    }
    player_->play();
}

std::int32_t QtAudioPlayer::length() const {
    if (!player_)
        return 0;
    switch (player_->mediaStatus()) {
    case QMediaPlayer::NoMedia:
    case QMediaPlayer::LoadingMedia:
    case QMediaPlayer::InvalidMedia:
        return 0;
    default:
        break;
    }
    if (statedLengthMs_ > 0)
        return statedLengthMs_;
    if (player_->duration() <= 0)
        return countedLengthMs_;
    return static_cast<std::int32_t>(
        std::clamp<qint64>(player_->duration(), 0, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t QtAudioPlayer::mode() const {
    if (!player_)
        return NotOpen;
    switch (player_->mediaStatus()) {
    case QMediaPlayer::NoMedia:
    case QMediaPlayer::InvalidMedia:
        return NotOpen;
    case QMediaPlayer::LoadingMedia:
    case QMediaPlayer::StalledMedia:
        return Seeking;
    case QMediaPlayer::EndOfMedia:
        return Ready;
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferingMedia:
    case QMediaPlayer::BufferedMedia:
        break;
    }
    switch (player_->playbackState()) {
    case QMediaPlayer::PlayingState:
        return Playing;
    case QMediaPlayer::PausedState:
        return Paused;
    case QMediaPlayer::StoppedState:
        break;
    }
    return Stopped;
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
    outputId_ = id;
}

bool QtAudioPlayer::outputReady(QString* why) const {
    return audioOutputReady(outputId_, why);
}

std::int64_t QtAudioPlayer::playedMs() const {
    if (!player_ || player_->playbackState() != QMediaPlayer::PlayingState)
        return -1;
    return player_->position();
}

std::int64_t QtAudioPlayer::position() const {
    return player_ ? player_->position() : 0;
}

} // namespace tamberlo
