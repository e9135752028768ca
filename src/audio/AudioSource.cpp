#include "audio/AudioSource.h"

#include <QLineEdit>
#include <QSlider>

namespace tamberlo {

AudioSource::AudioSource(AudioPlayer& player, FileDialog& dialog, MessageBoxes& boxes,
                         Widgets widgets, QObject* parent)
    : QObject(parent), player_(player), dialog_(dialog), boxes_(boxes), w_(widgets) {
    connect(&player_, &AudioPlayer::statusUpdate, this, &AudioSource::statusTick);
}

void AudioSource::startRecordingSource() {
    player_.command(PlayerCommand::Play);
    MusicOn = true;
    player_.setUpdateInterval(TickMs);
}

void AudioSource::holdRecordingSource() {
    player_.command(PlayerCommand::Pause);
    player_.setUpdateInterval(0);
}

// File open, status tick and slider: being written.
void AudioSource::openFile() {}
void AudioSource::statusTick() {}
void AudioSource::sliderChanged(int) {}

} // namespace tamberlo
