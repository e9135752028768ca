#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tamberlo {

// One sound output of this machine, as the sound server lists it.
struct AudioOutput {
    QByteArray id;       // what the player and --audio-device take
    QString description; // what a person reads ("Built-in Audio Analog Stereo")
    bool isDefault = false;
};

// The outputs there are now, the default first; empty with no sound server or card.
QList<AudioOutput> audioOutputs();

// The output a name or number given by the user picks: an id, a description (any letter
// case) or a 1-based number in audioOutputs()' order. Empty when none matches.
QByteArray findAudioOutput(const QString& nameOrNumber);

// Whether the output `id` (empty: the default) can play now; false with the reason, naming
// the output, when it cannot.
bool audioOutputReady(const QByteArray& id, QString* why);

} // namespace tamberlo
