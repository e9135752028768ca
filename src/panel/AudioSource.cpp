#include "panel/AudioSource.h"

#include "panel/TimeText.h"

#include <QLineEdit>
#include <QSlider>
#include <algorithm>
#include <array>
#include <chrono>
#include <limits>

namespace tamberlo {

namespace {

// PlayPoint's design maximum, used when the window gives no slider.
constexpr std::int32_t DefaultSliderMaximum = 30000;

// The counters advance by one tick at a time; they stop at the top instead of wrapping.
void addTick(std::int32_t& counter) {
    constexpr std::int32_t top = std::numeric_limits<std::int32_t>::max();
    counter = counter > top - AudioSource::TickMs ? top : counter + AudioSource::TickMs;
}

} // namespace

AudioSource::AudioSource(AudioPlayer& player, FileDialog& dialog, MessageBoxes& boxes,
                         Widgets widgets, QObject* parent)
    : QObject(parent), player_(player), dialog_(dialog), boxes_(boxes), w_(widgets) {
    connect(&player_, &AudioPlayer::statusUpdate, this, &AudioSource::statusTick);
    if (w_.PlayPoint)
        connect(w_.PlayPoint, &QSlider::valueChanged, this, &AudioSource::sliderChanged);
    autoStopTimer_.setObjectName(QStringLiteral("AutoStopTimer"));
    autoStopTimer_.setSingleShot(true);
    autoStopTimer_.setTimerType(Qt::PreciseTimer);
    connect(&autoStopTimer_, &QTimer::timeout, this, &AudioSource::autoStopDue);
}

void AudioSource::followTransmitter(const Transmitter& transmitter) {
    transmitter_ = &transmitter;
    connect(&transmitter, &Transmitter::frameWritten, this, &AudioSource::frameOut);
    connect(&transmitter, &Transmitter::frameDropped, this, &AudioSource::frameOut);
}

void AudioSource::startRecordingSource() {
    if (transmitter_ && transmitter_->isSending()) {
        forgetPlayedClock();
        playHeld_ = true;
    } else {
        replay();
    }
    musicOn_ = true;
    player_.setUpdateInterval(TickMs);
}

void AudioSource::replay() {
    playHeld_ = false;
    player_.command(PlayerCommand::Play);
    forgetPlayedClock();
}

void AudioSource::frameOut() {
    if (playHeld_)
        replay();
}

void AudioSource::forgetPlayedClock() {
    anchorMs_ = NoAnchor;
    recentAnchors_.clear();
    autoStopTimer_.stop();
}

QString AudioSource::outputName() const {
    return outputName_.isEmpty() ? tr("默认声音输出") : outputName_;
}

bool AudioSource::outputReadyForRecording() {
    if (musicFileName_.isEmpty())
        return true;
    QString why;
    if (player_.outputReady(&why))
        return true;
    boxes_.show(tr("没有声音输出：%1 不能播放，芯片录不到音频文件。\n%2\n没有发送任何命令。")
                    .arg(outputName(), why),
                tr("声音输出"), MessageIcon::Critical);
    return false;
}

void AudioSource::holdRecordingSource() {
    playHeld_ = false;
    player_.command(PlayerCommand::Pause);
    player_.setUpdateInterval(0);
}

std::int64_t AudioSource::sliderValueFor(std::int32_t ms) const {
    switch (musicScaleMode_) {
    case 0:
        return musicScale_ == 0 ? 0 : ms / musicScale_;
    case 1:
        return static_cast<std::int64_t>(ms) * musicScale_;
    case 2:
        return ms;
    default:
        return 0;
    }
}

std::int32_t AudioSource::msForSliderValue(int value) const {
    switch (musicScaleMode_) {
    case 0:
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(
            static_cast<std::int64_t>(value) * musicScale_,
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    case 1:
        return musicScale_ == 0 ? 0 : value / musicScale_;
    case 2:
        return value;
    default:
        return 0;
    }
}

void AudioSource::openFile() {
    dialog_.showOpen(tr("请选择音频文件"),
                     {tr("音频文件 (*.mp3)"), tr("动画文件 (*.wav)"), tr("所有文件 (*.*)")});
    const QString name = dialog_.fileName();
    if (name.isEmpty()) {
        boxes_.show(tr("请先选择音频文件"), QString(), MessageIcon::None);
        return;
    }

    playHeld_ = false;
    player_.command(PlayerCommand::close);
    player_.setUpdateInterval(0);
    player_.setWait(true);
    musicFileName_ = name;
    player_.setFileName(name);
    if (w_.DisFileNanmeText)
        w_.DisFileNanmeText->setText(player_.fileName());

    // Loaded and held paused at its start; with the interval at 0 no ticks arrive.
    player_.command(PlayerCommand::Stop);
    player_.command(PlayerCommand::Open);
    player_.command(PlayerCommand::Play);
    player_.command(PlayerCommand::Pause);

    musicLenMs_ = std::max<std::int32_t>(0, player_.length());
    setScale(w_.PlayPoint ? w_.PlayPoint->maximum() : DefaultSliderMaximum);
    if (w_.MusicFileLenText)
        w_.MusicFileLenText->setText(DipPlayPosit(musicLenMs_));
    musicPosMs_ = 0;

    reportUnusableFile();
}

void AudioSource::setScale(std::int32_t sliderMaximum) {
    // No length (the file did not open) or no slider range: nothing to map, the slider
    // shows 0 and reads as 0.
    if (musicLenMs_ <= 0 || sliderMaximum <= 0) {
        musicScale_ = 0;
        musicScaleMode_ = 0;
        return;
    }
    std::int32_t ratio = 0;
    if (sliderMaximum < musicLenMs_) {
        ratio = musicLenMs_ / sliderMaximum;
        musicScaleMode_ = 0;
    } else if (sliderMaximum > musicLenMs_) {
        ratio = sliderMaximum / musicLenMs_;
        musicScaleMode_ = 1;
    } else {
        musicScaleMode_ = 2;
        return;
    }
    // The ratio is kept in one byte. Capping it works like the truncation does anyway:
    // a very long file brings the slider to its end early, where it then stays; a very
    // short one uses less of the slider's range.
    musicScale_ = static_cast<std::uint8_t>(std::min<std::int32_t>(ratio, 255));
}

void AudioSource::reportUnusableFile() {
    const QString why = player_.errorText();
    if (!why.isEmpty()) {
        boxes_.show(tr("无法打开音频文件：%1\n%2").arg(musicFileName_, why), QString(),
                    MessageIcon::Critical);
    } else if (musicLenMs_ <= 0) {
        // It opened but its length is unknown: the automatic stop would fire at once.
        boxes_.show(tr("无法读取音频文件的长度：%1").arg(musicFileName_), QString(),
                    MessageIcon::Critical);
    }
}

void AudioSource::statusTick() {
    if (player_.mode() == Ready) {
        rewindAtEnd();
        return;
    }
    if (!musicOn_)
        return;

    addTick(musicPosMs_);
    if (recOn_) {
        addTick(recElapsedMs_);
        if (w_.RecTimeText)
            w_.RecTimeText->setText(DipPlayPosit(recElapsedMs_));
        autoStopStep();
    }
    followSlider();
}

std::int64_t AudioSource::now() const {
    if (nowMs_)
        return nowMs_();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void AudioSource::readPlayedClock() {
    const std::int64_t played = player_.playedMs();
    if (played < 0)
        return;
    // Each reading gives the anchor as now - played. The output's clock is its last
    // measurement carried forward, so a reading runs ahead of the sound when the output fell
    // behind since; one taken while this thread was held up comes late. The median of the
    // latest readings stands, and follows a gap in the sound within a few ticks.
    recentAnchors_.push_back(now() - played);
    if (recentAnchors_.size() > std::size_t(AnchorReadings))
        recentAnchors_.pop_front();
    std::array<std::int64_t, AnchorReadings> sorted{};
    const auto end = std::copy(recentAnchors_.begin(), recentAnchors_.end(), sorted.begin());
    const auto middle = sorted.begin() + (end - sorted.begin()) / 2;
    std::nth_element(sorted.begin(), middle, end);
    anchorMs_ = *middle;
}

std::int64_t AudioSource::stopHandOverAt() const {
    if (anchorMs_ == NoAnchor)
        return -1;
    const int lead = handOverLeadMs_ ? handOverLeadMs_() : Transmitter::PaceMs;
    return anchorMs_ + musicLenMs_ - StopBeforeEndMs - lead;
}

void AudioSource::autoStopStep() {
    if (!playHeld_)
        readPlayedClock();
    if (anchorMs_ == NoAnchor) {
        // Nothing has come out of the output since "Play" (or it cannot tell): see
        // SilentOutputAllowanceMs. Without a file the count alone decides.
        const std::int64_t limit = musicLenMs_ > 0
                                       ? std::int64_t(musicLenMs_) + SilentOutputAllowanceMs
                                       : std::int64_t(musicLenMs_) - StopLeadMs;
        if (recElapsedMs_ >= limit)
            sendAutoStop();
        return;
    }
    const std::int64_t wait = stopHandOverAt() - now();
    if (wait <= 0)
        sendAutoStop();
    else if (wait <= ArmAheadMs)
        autoStopTimer_.start(static_cast<int>(wait));
}

void AudioSource::autoStopDue() {
    autoStopTimer_.stop();
    if (!recOn_)
        return; // stopped meanwhile (the stop button, the STOP reply)
    readPlayedClock();
    const std::int64_t at = stopHandOverAt();
    if (at < 0)
        return; // the player was given "Play" again: the ticks wait for the output anew
    const std::int64_t wait = at - now();
    if (wait > 0)
        autoStopTimer_.start(static_cast<int>(std::min<std::int64_t>(wait, ArmAheadMs)));
    else
        sendAutoStop();
}

void AudioSource::sendAutoStop() {
    autoStopTimer_.stop();
    // Cleared before sending: ticks that arrive while a box of the transmitter is open send
    // no second STOP.
    recOn_ = false;
    if (sendStop_)
        sendStop_();
}

void AudioSource::rewindAtEnd() {
    movePlayPoint(0);
    musicPosMs_ = 0;
    player_.setStartPoint(0);

    playHeld_ = false;
    player_.command(PlayerCommand::close);
    player_.setWait(true);
    player_.setFileName(musicFileName_);
    player_.command(PlayerCommand::Stop);
    player_.command(PlayerCommand::Open);
    player_.command(PlayerCommand::Play);
    player_.command(PlayerCommand::Stop);
}

void AudioSource::followSlider() {
    if (!w_.PlayPoint)
        return;
    const std::int64_t value = sliderValueFor(musicPosMs_);
    // Past the end of its range the slider stays where it last was.
    if (value > w_.PlayPoint->maximum() || value < w_.PlayPoint->minimum())
        return;
    movePlayPoint(static_cast<int>(value));
}

void AudioSource::movePlayPoint(int value) {
    if (!w_.PlayPoint)
        return;
    // The program's own moves must not come back through sliderChanged: converting the
    // slider value back would truncate MusicPosMs to a multiple of MusicScale and set a
    // start point nobody asked for.
    const bool wasMoving = movingPlayPoint_;
    movingPlayPoint_ = true;
    w_.PlayPoint->setValue(value);
    movingPlayPoint_ = wasMoving;
}

void AudioSource::sliderChanged(int value) {
    if (movingPlayPoint_)
        return;
    musicPosMs_ = msForSliderValue(value);
    player_.setStartPoint(musicPosMs_);
}

} // namespace tamberlo
