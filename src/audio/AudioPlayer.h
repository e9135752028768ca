#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace tamberlo {

// The command words the panel gives the player. "close" and "Close" both close the
// file; they are kept apart because the last command word is compared exactly.
enum class PlayerCommand { None, close, Close, Open, Play, Pause, Stop };

QString commandWord(PlayerCommand command);

// Player modes as numbers; only Ready (the end of the file) is acted on.
enum PlayerMode : std::int32_t {
    NotOpen = 524,
    Stopped = 525,
    Playing = 526,
    Recording = 527,
    Seeking = 528,
    Paused = 529,
    Ready = 530,
};

// The PC-side audio player that provides the sound a chip recording takes.
class AudioPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioPlayer() override = default;

    virtual void command(PlayerCommand command) = 0;
    virtual PlayerCommand lastCommand() const = 0;

    // Set before each file name: with it, "Open" returns only once the file is loaded
    // (or has failed), so the length read right after is the real one.
    virtual void setWait(bool wait) = 0;
    virtual void setFileName(const QString& fileName) = 0;
    virtual QString fileName() const = 0;

    // Length of the open file in milliseconds; 0 when none is open.
    virtual std::int32_t length() const = 0;
    virtual std::int32_t mode() const = 0;
    // Why the last "Open" failed; empty when it did not.
    virtual QString errorText() const = 0;

    // Period of statusUpdate in milliseconds; 0 = none.
    virtual void setUpdateInterval(int ms) = 0;
    virtual int updateInterval() const = 0;
    // Where the next "Play" starts; the sound that is playing does not jump.
    virtual void setStartPoint(std::int32_t ms) = 0;

    // The output the sound goes to: an id from audioOutputs(); empty for the default output.
    virtual void setOutputDevice(const QByteArray& id) = 0;
    // Whether that output can play; false with the reason, naming it, when it cannot.
    virtual bool outputReady(QString* why) const = 0;
    // Where in the file the sound coming out of the output now is, in milliseconds (the
    // output's own clock, after its buffers); -1 while nothing of the file has come out
    // since the last "Play".
    virtual std::int64_t playedMs() const = 0;

signals:
    void statusUpdate();
};

// The panel's open sequence, also how the plan measures and plays its files: closed, then
// loaded and held paused at its start (with the player's wait set, the length is known
// when this returns).
void openHeld(AudioPlayer& player, const QString& fileName);

} // namespace tamberlo
