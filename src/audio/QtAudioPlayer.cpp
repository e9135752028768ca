#include "audio/QtAudioPlayer.h"

#include "audio/Mp3Length.h"

#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>
#include <algorithm>
#include <limits>

namespace tamberlo {

QtAudioPlayer::QtAudioPlayer(QObject* parent) : AudioPlayer(parent) {
    statusTimer_.setObjectName(QStringLiteral("StatusTimer"));
    // Elapsed times are counted in ticks, so the ticks must keep their period.
    statusTimer_.setTimerType(Qt::PreciseTimer);
    connect(&statusTimer_, &QTimer::timeout, this, &AudioPlayer::statusUpdate);
}

QtAudioPlayer::~QtAudioPlayer() {
    statusTimer_.stop();
    if (player_)
        player_->stop();
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
            [this](QMediaPlayer::Error, const QString& text) {
                if (opening_ && error_.isEmpty())
                    error_ = text.isEmpty() ? tr("无法识别的媒体文件") : text;
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
    startPoint_.reset();
    countedLengthMs_ = 0;
    player_->stop();
    player_->setSource(QUrl());

    if (fileName_.isEmpty()) {
        error_ = tr("没有文件名");
        return;
    }
    if (!QFileInfo(fileName_).isFile()) {
        error_ = tr("文件不存在");
        return;
    }

    opening_ = true;
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
        if (player_->mediaStatus() == QMediaPlayer::LoadingMedia && error_.isEmpty()) {
            error_ = tr("加载超时");
            player_->setSource(QUrl());
        }
    }
    opening_ = false;

    if (player_->mediaStatus() == QMediaPlayer::InvalidMedia) {
        if (error_.isEmpty())
            error_ = player_->errorString().isEmpty() ? tr("无法识别的媒体文件")
                                                      : player_->errorString();
    } else if (!error_.isEmpty()) {
        // An error while loading leaves nothing usable behind.
        player_->setSource(QUrl());
    } else if (player_->mediaStatus() != QMediaPlayer::LoadingMedia && player_->duration() <= 0) {
        const auto counted = mpegAudioFileLengthMs(fileName_);
        countedLengthMs_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            counted.value_or(0), 0, std::numeric_limits<std::int32_t>::max()));
    }
}

void QtAudioPlayer::close() {
    startPoint_.reset();
    countedLengthMs_ = 0;
    if (!player_)
        return;
    player_->stop();
    player_->setSource(QUrl());
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

std::int64_t QtAudioPlayer::position() const {
    return player_ ? player_->position() : 0;
}

} // namespace tamberlo
