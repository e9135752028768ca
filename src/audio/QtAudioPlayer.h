#pragma once

#include "audio/AudioFormat.h"
#include "audio/AudioPlayer.h"
#include "audio/PcmDecoder.h"
#include "audio/PcmOutput.h"

#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

namespace tamberlo {

// The panel's player: the whole file decoded to PCM when it is opened (libsndfile, GStreamer
// for what that lacks), played through a stream of the sound server whose clock tells what
// has come out of the output.
//
// The length is that of the decoded PCM, exact in samples; the position while playing is the
// output's played clock. A file that does not open because a decoder is missing is reported
// as such, with the Debian package that normally provides it.
//
// The sound server is contacted on the first "Play", not with the window, so that start-up
// does not wait for it. "Play" starts the stream on the next turn of the event loop, so that
// the panel's open sequence (Play and Pause at once) makes no sound.
class QtAudioPlayer : public AudioPlayer {
    Q_OBJECT
public:
    explicit QtAudioPlayer(QObject* parent = nullptr);
    // With an output of the caller's (tests).
    QtAudioPlayer(std::unique_ptr<PcmOutput> output, QObject* parent = nullptr);
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

    // Playback position in milliseconds; 0 while nothing is loaded.
    std::int64_t position() const;
    // Why the last "Play" could not play or stopped playing (English, for the log); empty
    // while it plays well.
    QString playFailure() const;
    // The decoded file; null while none is open.
    std::shared_ptr<const Pcm> pcm() const { return pcm_; }

private:
    enum class State { Stopped, Paused, Starting, Playing };
    void open();
    void close();
    void play();
    void pause();
    void startOutput();
    std::int64_t framesToMs(std::int64_t frames) const;
    QString describeFailure(const std::optional<AudioFormat>& format, const QString& why) const;

    std::unique_ptr<PcmOutput> output_;
    QTimer statusTimer_;
    QTimer startTimer_;
    PlayerCommand last_ = PlayerCommand::None;
    QString fileName_;
    QString error_;
    QString playFailure_;
    std::shared_ptr<const Pcm> pcm_;
    State state_ = State::Stopped;
    std::int64_t heldFrame_ = 0; // where a paused or stopped file stands
    std::optional<std::int32_t> startPoint_;
    int interval_ = 0;
    bool wait_ = false;
    QByteArray outputId_;
};

} // namespace tamberlo
