#pragma once

#include "audio/AudioFormat.h"
#include "audio/AudioPlayer.h"

#include <QIODevice>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

#include <QMediaPlayer>

class QAudioOutput;

namespace tamberlo {

// The player on Qt Multimedia: a QMediaPlayer with a QAudioOutput on the default device.
//
// The media player is created on the first "Open", not with the window, so that start-up
// does not pay for loading the multimedia backend.
//
// The length is the backend's once the file is loaded. For an MPEG audio file whose length
// the backend learns only by playing it to the end (low-rate MP3 without a VBR header), it
// is counted from the file's frames instead.
//
// Files the backend gets wrong are read through a device of our own: IMA ADPCM WAV decoded to
// PCM (GStreamer 1.22 takes its data rate for too high and stops early, half-way for mono),
// and WAV files that end in the pad byte of odd-sized sound data (GStreamer plays nothing).
// A file that does not open because a decoder is missing is reported as such, with the
// Debian package that normally provides it.
//
// Backend: GStreamer. Unless QT_MEDIA_BACKEND is already set, the adapter selects it
// before the first player is created. Qt 6.4's FFmpeg backend crashes on a machine with
// no audio output device, while GStreamer's automatic sink falls back to a clock-synced
// null sink there, so positions still advance in real time and the end of the file is
// still reported.
class QtAudioPlayer : public AudioPlayer {
    Q_OBJECT
public:
    // Upper bound on how long "Open" waits for the file to load (with wait set).
    static constexpr int DefaultOpenTimeoutMs = 5000;

    explicit QtAudioPlayer(QObject* parent = nullptr);
    ~QtAudioPlayer() override;

    void command(PlayerCommand command) override;
    PlayerCommand lastCommand() const override { return last_; }
    void setWait(bool wait) override { wait_ = wait; }
    void setFileName(const QString& fileName) override { fileName_ = fileName; }
    QString fileName() const override { return fileName_; }
    std::int32_t length() const override;
    std::int32_t mode() const override;
    QString errorText() const override { return error_; }
    void setUpdateInterval(int ms) override;
    int updateInterval() const override { return interval_; }
    void setStartPoint(std::int32_t ms) override { startPoint_ = ms; }
    void setOutputDevice(const QByteArray& id) override;
    bool outputReady(QString* why) const override;
    std::int64_t playedMs() const override;

    void setOpenTimeout(int ms) { openTimeoutMs_ = ms; }
    // Playback position in milliseconds; 0 while nothing is loaded.
    std::int64_t position() const;
    // The underlying player, or null before the first "Open" (for diagnostics and
    // measurements; the panel itself goes through the commands only).
    QMediaPlayer* mediaPlayer() const { return player_; }

private:
    void ensurePlayer();
    void open();
    void close();
    void play();
    QString describeBackendFailure(const std::optional<AudioFormat>& format) const;

    QMediaPlayer* player_ = nullptr;
    QAudioOutput* output_ = nullptr;
    QTimer statusTimer_;
    PlayerCommand last_ = PlayerCommand::None;
    QString fileName_;
    QString error_;
    std::optional<QMediaPlayer::Error> backendError_; // first error while opening
    QString backendErrorText_;
    std::optional<std::int32_t> startPoint_;
    std::int32_t countedLengthMs_ = 0;  // from the frames, when the backend gives no length
    std::int32_t statedLengthMs_ = 0;   // from the file's header, when it states its samples
    std::unique_ptr<QIODevice> device_; // the file as the backend reads it, when not by name
    int interval_ = 0;
    int openTimeoutMs_ = DefaultOpenTimeoutMs;
    bool wait_ = false;
    bool opening_ = false;
    QByteArray outputId_;
};

} // namespace tamberlo
