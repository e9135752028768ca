#pragma once

#include "audio/AudioPlayer.h"
#include "audio/FileDialog.h"
#include "link/MessageBoxes.h"
#include "link/Transmitter.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QLineEdit;
class QSlider;

namespace tamberlo {

// The PC-side audio as the sound source of a chip recording: the loaded file, the
// elapsed times counted on the player's status tick, the automatic stop 50 ms before the
// end of the file, and the position slider.
class AudioSource : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 30;
    // The chip is to stop this long before the end of the file.
    static constexpr int StopBeforeEndMs = 50;
    // The transmitter writes a frame's first byte one pacing interval after it is handed
    // the frame, so the automatic stop hands STOP over that much earlier again: the byte
    // then reaches the chip StopBeforeEndMs before the end, while the audio still plays
    // and the STOP reply finds the player playing.
    static constexpr int StopLeadMs = StopBeforeEndMs + Transmitter::PaceMs;

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
    void setStopCommand(std::function<void()> sendStop) { sendStop_ = std::move(sendStop); }

    // Starts the audio as the recording source: "Play", MusicOn, a 30 ms status interval.
    void startRecordingSource();
    // Holds it: "Pause" and no status updates.
    void holdRecordingSource();

    QString MusicFileName;
    std::int32_t MusicLenMs = 0;
    std::int32_t MusicPosMs = 0;
    std::int32_t RecElapsedMs = 0;
    bool MusicOn = false;
    bool RecOn = false;
    std::uint8_t MusicScale = 0;
    std::uint8_t MusicScaleMode = 0;

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
    // PlayPoint's value changed. Only the operator's moves count; the program's own moves
    // (follow step, rewind) do not come back through here.
    void sliderChanged(int value);

private:
    void setScale(std::int32_t sliderMaximum);
    void followSlider();
    void movePlayPoint(int value);
    void rewindAtEnd();
    void reportUnusableFile();

    bool movingPlayPoint_ = false;
    AudioPlayer& player_;
    FileDialog& dialog_;
    MessageBoxes& boxes_;
    Widgets w_;
    std::function<void()> sendStop_;
};

} // namespace tamberlo
