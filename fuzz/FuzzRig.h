#pragma once

// The chip layer wired as the window wires it, for the fuzz targets and for the property test
// that runs their bodies in ctest: the real transmitter, receiver, port control, audio source
// and chip commands with their real text boxes and lamps, on the in-memory serial port, the
// recording message boxes and the fake player. One rig serves many inputs; reset() puts it
// back to the state the window has after start-up, with the port open.

#include "chip/AnalogPath.h"
#include "chip/Catalogue.h"
#include "codec/HexText.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"
#include "panel/ChipCommands.h"
#include "panel/Lamps.h"
#include "support/Fakes.h"
#include "widgets/Lamp.h"
#include "widgets/PortControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamberlo::fuzz {

// One byte the panel put on the wire, with the transmitter's view of it at that moment.
struct WireByte {
    std::uint8_t value = 0;
    std::uint8_t curCmd = 0; // CurCmd while the byte was written
    std::uint8_t index = 0;  // its position in the frame (SendIdx before the write)
    bool portOpen = false;
};

// The in-memory port, noting every byte written together with the transmitter's state.
class WirePort : public test::FakeSerialPort {
public:
    void write(std::uint8_t byte) override {
        wire.push_back({byte, tx ? tx->CurCmd() : std::uint8_t{0},
                        tx ? tx->SendIdx() : std::uint8_t{0}, isOpen()});
    }
    const Transmitter* tx = nullptr;
    std::vector<WireByte> wire;
};

// Hex text of raw bytes for failure reports: "41 42 E4 B8 AD".
inline std::string hexDump(const std::uint8_t* data, std::size_t size, std::size_t limit = 64) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < size && i < limit; ++i) {
        if (i)
            out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    if (size > limit)
        out += " ... (" + std::to_string(size) + " bytes)";
    return out;
}

inline std::string show(const QString& text) {
    QString shown = text.left(40);
    if (text.size() > 40)
        shown += QStringLiteral("... (%1 chars)").arg(text.size());
    return "\"" + shown.toStdString() + "\"";
}

struct Rig {
    WirePort port;
    test::FakeMessageBoxes boxes;
    Receiver rx{port};
    Transmitter tx{port, rx};
    PortControl portControl{port, tx, boxes};
    test::FakeAudioPlayer player;
    test::FakeFileDialog dialog;

    QWidget window;
    ChipCommands::Widgets w;
    std::unique_ptr<AudioSource> audio;
    std::unique_ptr<ChipCommands> chip;

    Rig() {
        port.tx = &tx;
        const auto edit = [this](const char* name) {
            auto* e = new QLineEdit(&window);
            e->setObjectName(QLatin1String(name));
            return e;
        };
        w.Play_Text = edit("Play_Text");
        w.Rec_Text = edit("Rec_Text");
        w.CurrentRow = edit("CurrentRow");
        w.St_Play_Text = edit("St_Play_Text");
        w.St_Play_Text1 = edit("St_Play_Text1");
        w.St_Rec_Text = edit("St_Rec_Text");
        w.St_Rec_Text1 = edit("St_Rec_Text1");
        w.SetEraseText = edit("SetEraseText");
        w.SetEraseText1 = edit("SetEraseText1");
        w.sound_in = new QComboBox(&window);
        w.sound_in->setEditable(true);
        w.sound_in->addItems({QStringLiteral("Lin"), QStringLiteral("Mic"), QStringLiteral("LM")});
        w.SoundMon = new QCheckBox(&window);
        w.SPKon = new QCheckBox(&window);
        for (const LampColour& entry : LampColours) {
            auto* lamp = new Lamp(&window);
            lamp->setObjectName(lampName(entry.lamp));
        }
        w.lamps = Lamps::find(window);

        AudioSource::Widgets audioWidgets;
        audioWidgets.DisFileNanmeText = edit("DisFileNanmeText");
        audioWidgets.MusicFileLenText = edit("MusicFileLenText");
        audioWidgets.RecTimeText = edit("RecTimeText");
        audioWidgets.PlayPoint = new QSlider(Qt::Horizontal, &window);
        audioWidgets.PlayPoint->setRange(0, 30000);
        audio = std::make_unique<AudioSource>(player, dialog, boxes, audioWidgets);
        chip = std::make_unique<ChipCommands>(tx, rx, *audio, boxes, w, nullptr);
        audio->setStopCommand([this] { chip->sendStop(); });
        reset();
    }

    // Start-up state, the port open, nothing sent or received yet.
    void reset() {
        tx.abort();
        if (!port.isOpen())
            portControl.toggle(QStringLiteral("1"));
        port.input.clear();
        port.arriveDuringDrain.clear();
        port.setReceiveThreshold(1);
        port.log.clear();
        port.written.clear();
        // CurCmd back to 0 without a byte on the wire: a frame of no bytes.
        tx.SendBuf.assign(1, 0);
        tx.Isd_Comm2_Send(0);
        tx.abort();
        tx.SendBuf.clear();
        port.wire.clear();
        rx.RecvBuf.fill(0);
        rx.setRecvCnt(0);
        rx.setRecvIdx(0);
        rx.setRecvExpect(0);
        boxes.boxes.clear();
        boxes.onShow = nullptr;

        w.Play_Text->clear();
        w.Rec_Text->clear();
        w.CurrentRow->clear();
        w.St_Play_Text->setText(QStringLiteral("00 10"));
        w.St_Play_Text1->setText(QStringLiteral("00 20"));
        w.St_Rec_Text->setText(QStringLiteral("00 10"));
        w.St_Rec_Text1->setText(QStringLiteral("00 20"));
        w.SetEraseText->setText(QStringLiteral("00 10"));
        w.SetEraseText1->setText(QStringLiteral("00 20"));
        w.lamps.CriDigClr();
        w.lamps.at({LampGroup::Bottmp, 0})->setVisible(false);
        chip->setVolLevel(4);

        player.command(PlayerCommand::None);
        player.commands.clear();
        player.setUpdateInterval(0);
        player.modeValue = NotOpen;
        audio->setRecOn(false);
        audio->setMusicOn(false);
        audio->setRecElapsedMs(0);
    }

    // A click on the button of a catalogue row (the slot of its control name).
    void click(const CommandRow& row) {
        const std::string slot(row.control);
        QMetaObject::invokeMethod(chip.get(), slot.c_str(), Qt::DirectConnection);
    }

    // Ticks Timer1 until what it was handed is out: at most the rest of one frame and a
    // whole one, nine bytes, and the tick that stops it.
    void drain() {
        for (int i = 0; i < 16 && tx.isSending(); ++i)
            tx.tick();
    }

    // How many of the fifteen command lamps are lit.
    int litCommandLamps() const {
        int lit = 0;
        for (const LampRef lamp : CommandLamps)
            lit += w.lamps.at(lamp)->isHidden() ? 0 : 1;
        return lit;
    }

    // The two address boxes a range command reads.
    std::pair<QLineEdit*, QLineEdit*> rangeBoxes(Command command) const {
        switch (command) {
        case Command::set_play_addr:
            return {w.St_Play_Text, w.St_Play_Text1};
        case Command::set_rec_addr:
            return {w.St_Rec_Text, w.St_Rec_Text1};
        default:
            return {w.SetEraseText, w.SetEraseText1};
        }
    }
};

} // namespace tamberlo::fuzz
