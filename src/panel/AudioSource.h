#pragma once

#include "audio/AudioPlayer.h"
#include "link/Transmitter.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBoxes.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>

class QLineEdit;
class QSlider;

namespace tamberlo {

// The PC-side audio as the sound source of a chip recording: the loaded file, the
// elapsed times counted on the player's status tick, the automatic stop 50 ms before the
// end of the file, and the position slider.
//
// The automatic stop goes by the output's clock, not by the counted ticks: the sound reaches
// the chip only after the output's delay (a sound server buffers 100 ms to over a second),
// so counting from "Play" would stop the chip that much before the end of what it heard.
// Each tick of a recording reads where the sound coming out of the output is in the file
// (AudioPlayer::playedMs) and from it when the file's position 0 came out (the anchor). STOP
// is handed over when the sound out reaches length - 50 ms less the time the transmitter
// takes to put its byte on the wire. Ticks are 30 ms apart, too coarse for that: the tick
// that sees the moment coming within two ticks arms a precise single-shot timer for it.
class AudioSource : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 30;
    // The chip is to stop this long before the end of the file.
    static constexpr int StopBeforeEndMs = 50;
    // With no file (a length of 0) the counted time alone decides: STOP is handed over when
    // it reaches the length less this much (at once: the first tick).
    static constexpr int StopLeadMs = StopBeforeEndMs + Transmitter::PaceMs;
    // While the output has reported nothing of the file since "Play", the counted time
    // stands in, but late rather than early: STOP when it passes the end by this much. A
    // chip that records a second of silence after the file loses nothing of it; one stopped
    // by the count alone would lose as much of the end as the output delays the sound.
    static constexpr int SilentOutputAllowanceMs = 1000;
    // A tick arms the precise timer when the hand-over is due within this much: two ticks,
    // so that one late tick does not let the moment pass.
    static constexpr int ArmAheadMs = 2 * TickMs;
    // The anchor is the median of this many latest readings of the output's clock: one that
    // ran ahead of the sound (the output's estimate between two of its measurements) or came
    // late (this thread held up while reading) does not move the stop.
    static constexpr int AnchorReadings = 5;

    struct Widgets {
        QLineEdit* DisFileNanmeText = nullptr;
        QLineEdit* MusicFileLenText = nullptr;
        QLineEdit* RecTimeText = nullptr;
        QSlider* PlayPoint = nullptr;
    };

    // Connects the player's status event to statusTick() and PlayPoint's value changes to
    // sliderChanged(); the window need not connect them again.
    AudioSource(AudioPlayer& player, FileDialog& dialog, MessageBoxes& boxes, Widgets widgets,
                QObject* parent = nullptr);

    AudioPlayer& player() { return player_; }

    // Sends the chip's STOP exactly as the stop button does; called by the automatic stop.
    // handOverLeadMs tells how long after the hand-over STOP's byte leaves (the transmitter's
    // pacing, and any frame still going out ahead of it); without it, one pacing interval.
    void setStopCommand(std::function<void()> sendStop, std::function<int()> handOverLeadMs = {}) {
        sendStop_ = std::move(sendStop);
        handOverLeadMs_ = std::move(handOverLeadMs);
    }
    // The monotonic clock in milliseconds the automatic stop reads (tests set their own).
    void setClock(std::function<std::int64_t()> nowMs) { nowMs_ = std::move(nowMs); }
    // The single-shot timer of the automatic stop; its timeout runs autoStopDue().
    QTimer& autoStopTimer() { return autoStopTimer_; }
    // When, on that clock, STOP is to be handed over; -1 while the output has not told.
    std::int64_t stopHandOverAt() const;

    // The output's name for messages (its description, or the default output).
    void setOutputName(const QString& name) { outputName_ = name; }
    QString outputName() const;
    // Whether a recording with the loaded file can be heard: with a file loaded and an
    // output that cannot play, a box says so, naming the output, and the answer is false.
    // Without a file there is nothing to play and the answer is true.
    bool outputReadyForRecording();

    // The transmitter that sends the commands a recording starts with.
    void followTransmitter(const Transmitter& transmitter);
    // Starts the audio as the recording source: "Play", MusicOn, a 30 ms status interval.
    // While the followed transmitter is sending (the command that makes the chip listen is
    // paced out a byte per 50 ms), MusicOn and the interval are set at once but "Play" waits
    // until that frame is out or dropped: an output with little delay would otherwise play
    // the file's start before the chip records. Any other command to the player in between
    // takes the held "Play" back.
    void startRecordingSource();
    // Gives the player "Play" again: what the output had told of the sound before is
    // forgotten, and an automatic stop that was armed is taken back until it tells again.
    void replay();
    // Holds it: "Pause" and no status updates.
    void holdRecordingSource();

    // The loaded file, its length and the position played so far; the time elapsed since
    // the recording started; whether the file plays and whether the chip records (the stop
    // and record handlers and their replies switch them); the slider's scale.
    const QString& MusicFileName() const { return musicFileName_; }
    void setMusicFileName(const QString& name) { musicFileName_ = name; }
    std::int32_t MusicLenMs() const { return musicLenMs_; }
    void setMusicLenMs(std::int32_t ms) { musicLenMs_ = ms; }
    std::int32_t MusicPosMs() const { return musicPosMs_; }
    void setMusicPosMs(std::int32_t ms) { musicPosMs_ = ms; }
    std::int32_t RecElapsedMs() const { return recElapsedMs_; }
    void setRecElapsedMs(std::int32_t ms) { recElapsedMs_ = ms; }
    bool MusicOn() const { return musicOn_; }
    void setMusicOn(bool on) { musicOn_ = on; }
    bool RecOn() const { return recOn_; }
    void setRecOn(bool on) { recOn_ = on; }
    std::uint8_t MusicScale() const { return musicScale_; }
    void setMusicScale(std::uint8_t scale) { musicScale_ = scale; }
    std::uint8_t MusicScaleMode() const { return musicScaleMode_; }
    void setMusicScaleMode(std::uint8_t mode) { musicScaleMode_ = mode; }

    // Slider units for a position in milliseconds, and back, by MusicScale and
    // MusicScaleMode. A scale of 0 (no file, or a file of unknown length) maps everything
    // to 0.
    std::int64_t sliderValueFor(std::int32_t ms) const;
    std::int32_t msForSliderValue(int value) const;

public slots:
    // Click of open_file: choose a file, load it held paused at its start, take its length.
    // A file the player cannot open, or whose length it cannot tell, is reported in a
    // message box and leaves a length of 0.
    void openFile();
    // The player's status event: the end-of-file rewind, the elapsed times, the automatic
    // stop and the slider follow step.
    void statusTick();
    // The automatic stop's timer: hands STOP over when the moment has come (reading the
    // output's clock once more), or waits the rest.
    void autoStopDue();
    // PlayPoint's value changed. Only the operator's moves count; the program's own moves
    // (follow step, rewind) do not come back through here.
    void sliderChanged(int value);

private:
    QString musicFileName_;
    std::int32_t musicLenMs_ = 0;
    std::int32_t musicPosMs_ = 0;
    std::int32_t recElapsedMs_ = 0;
    bool musicOn_ = false;
    bool recOn_ = false;
    std::uint8_t musicScale_ = 0;
    std::uint8_t musicScaleMode_ = 0;
    void setScale(std::int32_t sliderMaximum);
    void followSlider();
    void movePlayPoint(int value);
    void rewindAtEnd();
    void reportUnusableFile();
    std::int64_t now() const;
    void readPlayedClock();
    // What the output told of the sound since "Play" is forgotten, the automatic stop's timer
    // taken back.
    void forgetPlayedClock();
    // The frame handed to the transmitter last is out, or was dropped: a held "Play" is given.
    void frameOut();
    void autoStopStep();
    void sendAutoStop();

    bool movingPlayPoint_ = false;
    bool playHeld_ = false; // "Play" waits for frameOut()
    const Transmitter* transmitter_ = nullptr;
    AudioPlayer& player_;
    FileDialog& dialog_;
    MessageBoxes& boxes_;
    Widgets w_;
    std::function<void()> sendStop_;
    std::function<int()> handOverLeadMs_;
    std::function<std::int64_t()> nowMs_;
    QTimer autoStopTimer_;
    // When (clock ms) the file's position 0 came out of the output; NoAnchor until the output
    // has told since the last "Play". The median of the latest readings (recentAnchors_).
    static constexpr std::int64_t NoAnchor = std::numeric_limits<std::int64_t>::min();
    std::int64_t anchorMs_ = NoAnchor;
    std::deque<std::int64_t> recentAnchors_;
    QString outputName_;
};

} // namespace tamberlo
