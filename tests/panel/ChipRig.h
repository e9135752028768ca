#pragma once

#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/ChipCommands.h"
#include "support/Fakes.h"
#include "widgets/Lamp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

namespace tamberlo::test {

// The chip layer wired as the window wires it: real text boxes, combo box, check boxes and
// lamps on a hidden window, the fake port, boxes and player behind the real transmitter,
// receiver and audio source.
struct ChipRig {
    // prepare runs on the widgets before the chip layer is built (e.g. a design maxLength).
    explicit ChipRig(const std::function<void(ChipRig&)>& prepare = {});

    FakeSerialPort port;
    FakeMessageBoxes boxes;
    Receiver rx{port};
    Transmitter tx{port, rx};
    FakeAudioPlayer player;
    FakeFileDialog dialog;

    QWidget window;
    ChipCommands::Widgets w;
    std::unique_ptr<AudioSource> audio;
    std::unique_ptr<ChipCommands> chip;
    std::vector<std::uint8_t> dips; // every SoundDip call

    QLineEdit* box(const QString& name) const { return window.findChild<QLineEdit*>(name); }
    Lamp* lamp(const QString& name) const { return window.findChild<Lamp*>(name); }

    // Ticks Timer1 until the frame is out; returns every byte written so far.
    QByteArray drain();
    // Clicks the button of a control name (its slot on the chip layer).
    void click(const QString& control);
    // Reply bytes, all in one notification; then what the event loop runs next (the reply
    // action, when the reply is complete).
    void reply(const QByteArray& bytes) {
        port.inject(bytes);
        runQueued();
    }

    void showAllLamps();
    // Names of the visible lamps among all sixteen, in CriDigClr order after Bottmp(0).
    QStringList litLamps() const;
};

} // namespace tamberlo::test
